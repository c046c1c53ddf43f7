#include "player.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

#include "com_support.h"

namespace standin {

namespace {

std::string UrlDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && isxdigit(uint8_t(s[i + 1])) &&
               isxdigit(uint8_t(s[i + 2]))) {
      out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

struct Player::FetchJob {
  int level = 0;
  bool variables = false;  // loadVariables: name=value pairs for the level, not a movie
  unsigned generation = 0;
  std::wstring url;
  HWND notify = nullptr;
  std::atomic<size_t> expected{0};
  ScopedHandle cancel{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle thread;
  FetchResult result;
};

class Player::LevelHost final : public swf::TimelineHost {
 public:
  LevelHost(Player& owner, int level) : owner_(owner), level_(level) {}
  void FsCommand(const std::string& command, const std::string& args) override {
    owner_.host_.OnFsCommand(command, args);
  }
  void LoadMovie(int level, const std::string& url) override {
    std::wstring wide = Utf8ToWide(url);
    if (wide.empty()) {
      owner_.Unload(level);
      return;
    }
    owner_.Load(level, owner_.host_.ResolveRequest(level_, wide));
  }
  void GetUrl(const std::string& url, const std::string& target) override {
    owner_.host_.OnNavigate(Utf8ToWide(url), Utf8ToWide(target));
  }
  std::string ExternalCall(const std::string& request) override {
    return owner_.host_.OnExternalCall(request);
  }
  void LoadVariables(int level, const std::string& url) override {
    owner_.Load(level, owner_.host_.ResolveRequest(level_, Utf8ToWide(url)), true);
  }
  swf::Timeline* FindTimeline(const std::string& target) override {
    Level* level = owner_.TargetLevel(Utf8ToWide(target));
    return level ? level->timeline.get() : nullptr;
  }
  swf::ActionBudget& Budget() override { return owner_.budget_; }

 private:
  Player& owner_;
  int level_;
};

Player::Level::Level() = default;
Player::Level::~Level() = default;

const swf::FlatShape* Player::Level::Shape(uint16_t id) {
  auto found = shapes_.find(id);
  if (found != shapes_.end()) return found->second.get();
  const ::swf::Tag* tag = timeline ? timeline->Character(id) : nullptr;
  const auto* shape = tag ? std::get_if<::swf::DefineShape>(tag) : nullptr;
  auto& slot = shapes_[id];
  if (shape) slot = std::make_unique<swf::FlatShape>(swf::Flatten(*shape));
  return slot.get();
}

Player::ActionScope::ActionScope(Player& owner) : owner_(owner) {
  step_.emplace(owner_.budget_);
  ++owner_.actionDepth_;
}

Player::ActionScope::~ActionScope() {
  step_.reset();
  if (--owner_.actionDepth_ > 0) return;
  while (!owner_.deferred_.empty() && owner_.actionDepth_ == 0) {
    auto change = std::move(owner_.deferred_.front());
    owner_.deferred_.erase(owner_.deferred_.begin());
    try {
      change();
    } catch (...) {
      // A failed level change leaves the levels as they were.
    }
  }
}

void Player::WhenNoActionsRun(std::function<void()> change) {
  if (actionDepth_ > 0)
    deferred_.push_back(std::move(change));
  else
    change();
}

Player::~Player() { CancelFetches(); }

Player::Level* Player::FindLevel(int number) const {
  auto it = levels_.find(number);
  return it == levels_.end() ? nullptr : it->second.get();
}

Player::Level* Player::TargetLevel(const std::wstring& t) const {
  if (t.empty() || t == L"/" || t == L"_root") return FindLevel(0);
  if (t.rfind(L"_level", 0) == 0) {
    wchar_t* end = nullptr;
    long n = wcstol(t.c_str() + 6, &end, 10);
    if (end && !*end && end != t.c_str() + 6) return FindLevel(int(n));
  }
  return nullptr;
}

swf::Timeline* Player::MainTimeline() const {
  Level* main = FindLevel(0);
  return main ? main->timeline.get() : nullptr;
}

void Player::SetLoop(bool loop) {
  loop_ = loop;
  for (auto& [number, level] : levels_)
    if (level->timeline) level->timeline->SetLoop(loop_);
}

void Player::SetVariable(const std::wstring& name, const std::wstring& value) {
  if (swf::Timeline* main = MainTimeline())
    main->SetVariable(WideToUtf8(name), WideToUtf8(value));
  else
    pendingVariables_[name] = value;
}

std::wstring Player::GetVariable(const std::wstring& name) const {
  if (swf::Timeline* main = MainTimeline()) return Utf8ToWide(main->GetVariable(WideToUtf8(name)));
  auto it = pendingVariables_.find(name);
  return it != pendingVariables_.end() ? it->second : std::wstring();
}

// ---------------------------------------------------------------------------------------------
// Loads

void Player::Load(int level, const std::wstring& url, bool variables) {
  fetchLog_.Add(url);
  std::set<int> numbers;
  for (const auto& [number, present] : levels_) numbers.insert(number);
  for (const auto& job : jobs_) numbers.insert(job->level);
  for (const auto& [key, request] : waiting_) numbers.insert(key.first);
  if (!numbers.count(level) && numbers.size() >= kMaxLevels) {
    SetLastError(L"too many levels: " + url);
    return;
  }
  // Variables go to a movie that is there; they replace none.
  if (variables && !FindLevel(level)) return;
  // A newer request of the same kind for a level makes the older one pointless.
  for (auto& job : jobs_)
    if (job->level == level && job->variables == variables) SetEvent(job->cancel.get());
  unsigned generation = 0;
  if (!variables) {
    generation = ++generation_[level];
    if (level == 0) {
      loadingPercent_ = 0;
      host_.OnReadyState(0);
    }
  }
  // Beyond the threads allowed at once, the newest request per level waits its turn.
  waiting_[{level, variables}] = {url, generation};
  StartWaitingLoads();
}

void Player::StartWaitingLoads() {
  while (!waiting_.empty() && jobs_.size() < kMaxConcurrentLoads) {
    auto [key, request] = *waiting_.begin();
    waiting_.erase(waiting_.begin());
    bool variables = key.second;
    auto g = generation_.find(key.first);
    if (!variables && (g == generation_.end() || g->second != request.second)) continue;
    StartJob(key.first, request.second, request.first, variables);
  }
}

void Player::StartJob(int level, unsigned generation, const std::wstring& url, bool variables) {
  auto job = std::make_shared<FetchJob>();
  job->level = level;
  job->generation = generation;
  job->url = url;
  job->variables = variables;
  job->notify = messageWindow_;
  auto* threadRef = new std::shared_ptr<FetchJob>(job);
  ModuleAddRef();
  job->thread.Reset(CreateThread(nullptr, 0, FetchThread, threadRef, 0, nullptr));
  if (!job->thread) {
    delete threadRef;
    ModuleRelease();
    SetLastError(L"CreateThread failed");
    return;
  }
  jobs_.push_back(job);
  peakLoads_ = std::max(peakLoads_, jobs_.size());
}

DWORD WINAPI Player::FetchThread(void* param) {
  std::unique_ptr<std::shared_ptr<FetchJob>> ref(static_cast<std::shared_ptr<FetchJob>*>(param));
  FetchJob* job = ref->get();
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Guard([&] {
    HWND notify = job->notify;
    job->result =
        FetchUrl(job->url, job->cancel.get(), INFINITE, [notify, job](size_t bytes, size_t total) {
          job->expected = total;  // read on the object's thread only after the post below
          PostMessageW(notify, kMsgFetchProgress, WPARAM(bytes), LPARAM(job));
        });
    return S_OK;
  });
  PostMessageW(job->notify, kMsgFetchDone, 0, LPARAM(job));
  if (SUCCEEDED(init)) CoUninitialize();
  ref.reset();
  ModuleRelease();
  return 0;
}

void Player::CancelFetches() {
  waiting_.clear();
  for (auto& job : jobs_) SetEvent(job->cancel.get());
  for (auto* list : {&jobs_, &retired_}) {
    for (auto& job : *list) {
      // The fetch may be waiting for this thread (a host that marshals its stream work here),
      // so keep dispatching while it winds down.
      if (job->thread) WaitPumping(job->thread.get(), 5000);
    }
    list->clear();
  }
}

size_t Player::RetiredBytes() const {
  size_t bytes = 0;
  for (const auto& job : retired_) bytes += job->result.bytes.capacity();
  return bytes;
}

bool Player::Current(const FetchJob& job) const {
  auto it = generation_.find(job.level);
  return it != generation_.end() && it->second == job.generation;
}

void Player::OnFetchProgress(void* posted, size_t bytes) {
  // Only the status line follows the bytes as they come; the movie is read once complete.
  auto it = std::find_if(jobs_.begin(), jobs_.end(),
                         [posted](const auto& j) { return j.get() == posted; });
  if (it == jobs_.end()) return;
  FetchJob* job = it->get();
  if (!Current(*job)) return;
  receivedBytes_ = bytes;
  size_t total = job->expected;
  if (job->level == 0 && total > 0) {
    // 100 belongs to the complete, readable movie.
    long percent = long(std::min<uint64_t>(99, uint64_t(bytes) * 100 / total));
    if (percent > loadingPercent_) {
      loadingPercent_ = percent;
      host_.OnProgress(percent);
    }
  }
  host_.OnChanged();
}

void Player::OnFetchDone(void* posted) {
  auto it = std::find_if(jobs_.begin(), jobs_.end(),
                         [posted](const auto& j) { return j.get() == posted; });
  if (it == jobs_.end()) return;
  std::shared_ptr<FetchJob> job = *it;
  jobs_.erase(it);
  StartWaitingLoads();
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                [](const auto& j) {
                                  return WaitForSingleObject(j->thread.get(), 0) == WAIT_OBJECT_0;
                                }),
                 retired_.end());
  retired_.push_back(job);
  WhenNoActionsRun([this, job] { FinishFetch(job); });
}

void Player::FinishFetch(const std::shared_ptr<FetchJob>& job) {
  // The job stays among the retired ones until its thread is gone; what it fetched goes now.
  const FetchResult r = std::exchange(job->result, FetchResult{});
  if (job->variables) {
    ApplyVariables(*job, r);
    return;
  }
  if (!Current(*job)) return;  // superseded
  // The events below reach the container, which may dispatch messages: other level changes
  // wait until this one is complete.
  ActionScope scope(*this);
  if (!r.Succeeded()) {
    SetLastError(L"fetch of " + job->url + L" failed: " +
                 (r.tooLarge ? std::wstring(L"more than the largest movie")
                             : Hex(FAILED(r.bindResult) ? r.bindResult : r.stopResult)));
    if (job->level == 0) host_.OnReadyState(4);
    return;
  }
  std::unique_ptr<Level> level(new Level);
  level->number = job->level;
  level->url = job->url;
  level->bytes = r.bytes.size();
  level->host = std::make_unique<LevelHost>(*this, job->level);
  try {
    swf::Movie movie = swf::ReadMovie(r.bytes);
    level->timeline = std::make_unique<swf::Timeline>(std::move(movie), *level->host);
  } catch (const std::exception& e) {
    SetLastError(job->url + L": " + Utf8ToWide(e.what()));
  }
  if (!level->timeline) {
    if (job->level == 0) host_.OnReadyState(4);
    return;
  }
  int number = job->level;
  if (number == 0) {
    // A new main movie replaces every level.
    levels_.clear();
    for (auto& [name, value] : pendingVariables_)
      level->timeline->SetVariable(WideToUtf8(name), WideToUtf8(value));
    pendingVariables_.clear();
  }
  level->timeline->SetLoop(loop_);
  swf::Timeline* timeline = level->timeline.get();
  levels_[number] = std::move(level);
  if (number == 0) {
    host_.OnProgress(100);
    host_.OnReadyState(3);
  }
  UpdateTimer();
  try {
    timeline->Start();
  } catch (const std::exception& e) {
    timeline->SetPlaying(false);
    SetLastError(Utf8ToWide(e.what()));
  }
  if (number == 0) host_.OnReadyState(4);
  host_.OnChanged();
}

void Player::ApplyVariables(const FetchJob& job, const FetchResult& result) {
  Level* level = FindLevel(job.level);
  if (!level || !level->timeline || !result.Succeeded()) return;
  // application/x-www-form-urlencoded: name=value pairs joined by '&'.
  const auto& bytes = result.bytes;
  std::string text(bytes.begin(), bytes.end());
  try {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('&', pos);
      if (end == std::string::npos) end = text.size();
      std::string pair = text.substr(pos, end - pos);
      size_t eq = pair.find('=');
      if (eq != std::string::npos)
        level->timeline->SetVariable(UrlDecode(pair.substr(0, eq)), UrlDecode(pair.substr(eq + 1)));
      pos = end + 1;
    }
  } catch (const std::exception& e) {
    SetLastError(job.url + L": " + Utf8ToWide(e.what()));
  }
  host_.OnChanged();
}

void Player::Unload(int level) {
  auto known = generation_.find(level);
  if (known == generation_.end()) return;  // never loaded
  ++known->second;
  waiting_.erase({level, false});
  waiting_.erase({level, true});
  for (auto& job : jobs_)
    if (job->level == level) SetEvent(job->cancel.get());
  // The level may be the one whose actions are running right now.
  WhenNoActionsRun([this, level] {
    levels_.erase(level);
    // Forgotten unless a load of it is still winding down (a fresh load counts from 1 again).
    if (std::none_of(jobs_.begin(), jobs_.end(),
                     [level](const auto& j) { return j->level == level; }))
      generation_.erase(level);
    UpdateTimer();
    host_.OnChanged();
  });
}

// ---------------------------------------------------------------------------------------------
// Frames

void Player::UpdateTimer() {
  swf::Timeline* main = MainTimeline();
  UINT interval = 1000 / 12;
  if (main && main->movie().frameRate > 0)
    interval = std::clamp<UINT>(256000u / main->movie().frameRate, 10u, 1000u);
  if (levels_.empty()) {
    KillTimer(messageWindow_, kFrameTimer);
    timerInterval_ = 0;
  } else if (interval != timerInterval_) {
    SetTimer(messageWindow_, kFrameTimer, interval, nullptr);
    timerInterval_ = interval;
  }
}

void Player::OnFrameTimer() {
  if (actionDepth_ > 0) return;  // a container dispatching messages from inside an action
  ActionScope scope(*this);
  bool changed = false;
  std::vector<int> numbers;
  for (auto& [number, level] : levels_) numbers.push_back(number);
  for (int number : numbers) {
    Level* level = FindLevel(number);  // a handler may have changed the levels meanwhile
    if (!level || !level->timeline) continue;
    int before = level->timeline->CurrentFrame();
    try {
      level->timeline->Tick();
    } catch (const std::exception& e) {
      level->timeline->SetPlaying(false);
      SetLastError(Utf8ToWide(e.what()));
    }
    if (FindLevel(number) == level && level->timeline->CurrentFrame() != before) changed = true;
  }
  if (changed) host_.OnChanged();
}

}  // namespace standin
