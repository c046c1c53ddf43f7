// The player of one ShockwaveFlash object: its movie levels with their timelines, the frame
// timer, and the loads that bring movies in from worker threads. It knows nothing of COM; what
// the movies ask of the world goes to a PlayerHost.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bitmaps.h"
#include "bounded_log.h"
#include "stage/geometry.h"
#include "stage/timeline.h"
#include "url_fetch.h"

namespace standin {

// Messages of the object's hidden message window, which the player's loads and timer use.
inline constexpr UINT kMsgFetchDone = WM_APP + 1;
inline constexpr UINT kMsgFetchProgress = WM_APP + 2;
inline constexpr UINT kMsgRun = WM_APP + 3;
inline constexpr UINT_PTR kFrameTimer = 1;

class PlayerHost {
 public:
  virtual ~PlayerHost() = default;
  virtual void OnReadyState(long state) = 0;
  virtual void OnProgress(long percent) = 0;
  virtual void OnFsCommand(const std::string& command, const std::string& args) = 0;
  // ExternalInterface.call: the <invoke> text; returns the encoded answer ("" = none).
  virtual std::string OnExternalCall(const std::string& request) = 0;
  // A navigation of a movie (a stand-alone player has no browser to send it to).
  virtual void OnNavigate(const std::wstring& url, const std::wstring& target) = 0;
  // `relative` as a movie of `level` means it.
  virtual std::wstring ResolveRequest(int level, const std::wstring& relative) const = 0;
  // Something visible changed: repaint.
  virtual void OnChanged() = 0;
};

class Player {
 public:
  struct Level;

  // A movie may ask for any number of levels and loads: these many levels are kept (a request
  // for one more fails with an error, the movies already there play on), and these many loads
  // run at once (later requests wait, the newest per level).
  static constexpr size_t kMaxLevels = 32;
  static constexpr size_t kMaxConcurrentLoads = 8;

  explicit Player(PlayerHost& host) : host_(host) {}
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // The window that receives the load notifications and runs the frame timer.
  void SetMessageWindow(HWND window) { messageWindow_ = window; }

  // A movie into a level; with `variables`, name=value pairs for the level's movie instead.
  void Load(int level, const std::wstring& url, bool variables = false);
  void Unload(int level);
  // Stops every load and waits for their threads (pumping messages meanwhile).
  void CancelFetches();

  Level* FindLevel(int number) const;
  // "", "/", "_root" and "_levelN".
  Level* TargetLevel(const std::wstring& target) const;
  swf::Timeline* MainTimeline() const;
  const std::map<int, std::unique_ptr<Level>>& Levels() const { return levels_; }

  void SetLoop(bool loop);
  bool Loop() const { return loop_; }
  // Variables of the main movie; kept for it while none is there.
  void SetVariable(const std::wstring& name, const std::wstring& value);
  std::wstring GetVariable(const std::wstring& name) const;

  long LoadingPercent() const { return loadingPercent_; }
  size_t ReceivedBytes() const { return receivedBytes_; }
  bool Loading() const { return !jobs_.empty() || !waiting_.empty(); }
  // The most load threads that ran at once.
  size_t PeakLoads() const { return peakLoads_; }
  // What the fetches that are over still hold.
  size_t RetiredBytes() const;
  const std::wstring& LastError() const { return lastError_; }
  void SetLastError(std::wstring error) {
    errors_.Add(error);
    lastError_ = std::move(error);
  }
  const BoundedLog& Errors() const { return errors_; }
  const BoundedLog& FetchLog() const { return fetchLog_; }

  // The message window's handlers.
  void OnFetchProgress(void* job, size_t bytes);
  void OnFetchDone(void* job);
  void OnFrameTimer();

  // Movie actions call out to the container, which may dispatch messages meanwhile: levels
  // are only replaced or removed when no actions are running (else when they end). A scope is
  // also one step of the actions' budget, which the scopes inside it share.
  class ActionScope {
   public:
    explicit ActionScope(Player& owner);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

   private:
    Player& owner_;
    std::optional<swf::ActionBudget::Step> step_;  // ends before the deferred changes run
  };

 private:
  struct FetchJob;
  class LevelHost;

  static DWORD WINAPI FetchThread(void* param);
  // The job is the load of its level that still counts.
  bool Current(const FetchJob& job) const;
  void StartWaitingLoads();
  void StartJob(int level, unsigned generation, const std::wstring& url, bool variables);
  void FinishFetch(const std::shared_ptr<FetchJob>& job);
  void ApplyVariables(const FetchJob& job, const FetchResult& result);
  void WhenNoActionsRun(std::function<void()> change);
  void UpdateTimer();

  PlayerHost& host_;
  HWND messageWindow_ = nullptr;
  bool loop_ = true;
  std::map<int, std::unique_ptr<Level>> levels_;
  std::map<int, unsigned> generation_;  // per level: the load that still counts
  std::vector<std::shared_ptr<FetchJob>> jobs_;
  // Fetches whose result is in but whose thread may still be winding down: the module must
  // not go while they run.
  std::vector<std::shared_ptr<FetchJob>> retired_;
  // Requests waiting for a thread: (level, variables) to (url, generation).
  std::map<std::pair<int, bool>, std::pair<std::wstring, unsigned>> waiting_;
  size_t peakLoads_ = 0;
  std::map<std::wstring, std::wstring> pendingVariables_;
  UINT timerInterval_ = 0;
  int actionDepth_ = 0;
  swf::ActionBudget budget_;  // shared by every level's actions
  std::vector<std::function<void()>> deferred_;
  size_t receivedBytes_ = 0;
  long loadingPercent_ = 0;  // of the level-0 movie on its way
  std::wstring lastError_;
  BoundedLog errors_;
  BoundedLog fetchLog_;
};

struct Player::Level {
  Level();
  ~Level();
  int number = 0;
  std::wstring url;
  size_t bytes = 0;
  std::unique_ptr<LevelHost> host;
  std::unique_ptr<swf::Timeline> timeline;
  // What drawing and hit tests made of the movie's characters, kept for the movie's life.
  BitmapCache bitmaps;
  // The shape of character `id` flattened; null when `id` is no shape.
  const swf::FlatShape* Shape(uint16_t id);

 private:
  std::map<uint16_t, std::unique_ptr<swf::FlatShape>> shapes_;
};

}  // namespace standin
