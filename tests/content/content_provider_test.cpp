#include "content/content_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "content/synchronized_stream.h"
#include "content_test_support.h"
#include "core/error.h"

namespace pageturn {
namespace {

using testing::ElementsAre;
using testing_support::TRecordingCallback;

const std::string UnannouncedHeader =
    "OnResponse 200 HTTP/1.1 200 OK\r\nContent-Length: -1\r\n";

struct ProviderFixture : testing::Test {
  void SetUp() override { provider = TContentProvider::Create(&stream); }
  void TearDown() override {
    stream.Reset();
    provider.Reset();
    EXPECT_EQ(TContentProvider::Live(), 0);
    EXPECT_EQ(TContentProviderStream::Live(), 0);
  }
  void Write(const std::string& bytes) {
    ULONG written = 0xdeadbeef;
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    EXPECT_EQ(written, bytes.size());
  }

  ComPtr<IStream> stream;
  ComPtr<IContentProvider> provider;
};

TEST_F(ProviderFixture, BytesWrittenBeforeTheBindArriveInOneNotification) {
  EXPECT_EQ(provider->HasData(), S_FALSE);
  Write(std::string(10, 'a'));
  Write(std::string(20, 'b'));
  EXPECT_EQ(provider->HasData(), S_OK);
  auto callback = TRecordingCallback::Create(true);
  ASSERT_EQ(provider->SetBindStatusCallback(callback.Get()), S_OK);
  EXPECT_THAT(callback->Calls(),
              ElementsAre(UnannouncedHeader, "OnStartBinding 0 none", "OnData 5 30"));
  EXPECT_EQ(callback->Data(), std::string(10, 'a') + std::string(20, 'b'));
  stream.Reset();  // the end of the data
  EXPECT_EQ(callback->Calls().back(), "OnStopBinding 0x00000000");
  EXPECT_EQ(callback->StopCount(), 1);
}

TEST_F(ProviderFixture, CompletedContentIsDeliveredWholeWhenTheBindComes) {
  Write("movie");
  stream.Reset();
  auto callback = TRecordingCallback::Create(false);  // no IHttpNegotiate: no header
  provider->SetBindStatusCallback(callback.Get());
  EXPECT_THAT(callback->Calls(),
              ElementsAre("OnStartBinding 0 none", "OnData 5 5", "OnStopBinding 0x00000000"));
  EXPECT_EQ(callback->Data(), "movie");
}

TEST_F(ProviderFixture, WritesWhileBoundArriveOnePerWrite) {
  auto callback = TRecordingCallback::Create(true);
  provider->SetBindStatusCallback(callback.Get());
  EXPECT_THAT(callback->Calls(), ElementsAre());  // nothing before the first data
  Write(std::string(4096, 'x'));
  Write(std::string(100, 'y'));
  stream.Reset();
  EXPECT_THAT(callback->Calls(), ElementsAre(UnannouncedHeader, "OnStartBinding 0 none",
                                             "OnData 5 4096", "OnData 5 100",
                                             "OnStopBinding 0x00000000"));
  EXPECT_EQ(callback->Data(), std::string(4096, 'x') + std::string(100, 'y'));
}

TEST_F(ProviderFixture, AnnouncedSizeIsSentAtOnceWithItsLow32Bits) {
  auto callback = TRecordingCallback::Create(true);
  provider->SetBindStatusCallback(callback.Get());
  ULARGE_INTEGER size;
  size.QuadPart = 1234;
  EXPECT_EQ(stream->SetSize(size), S_OK);
  size.QuadPart = (1ull << 32) + 5;
  EXPECT_EQ(stream->SetSize(size), S_OK);
  Write("z");
  EXPECT_THAT(callback->Calls(),
              ElementsAre("OnResponse 200 HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n",
                          "OnResponse 200 HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",
                          "OnResponse 200 HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",
                          "OnStartBinding 0 none", "OnData 5 1"));
}

TEST_F(ProviderFixture, NothingWrittenMeansNoNotificationAtAll) {
  auto callback = TRecordingCallback::Create(true);
  provider->SetBindStatusCallback(callback.Get());
  stream.Reset();
  EXPECT_EQ(provider->Complete(), S_OK);
  EXPECT_THAT(callback->Calls(), ElementsAre());
}

TEST_F(ProviderFixture, AnEmptyWriteStillCountsAsData) {
  Write("");
  EXPECT_EQ(provider->HasData(), S_OK);
  auto callback = TRecordingCallback::Create(false);
  provider->SetBindStatusCallback(callback.Get());
  EXPECT_THAT(callback->Calls(), ElementsAre("OnStartBinding 0 none", "OnData 5 0"));
}

TEST_F(ProviderFixture, ARefusedNotificationReportsNothingWritten) {
  auto callback = TRecordingCallback::Create(false);
  callback->dataResult = E_ABORT;
  provider->SetBindStatusCallback(callback.Get());
  ULONG written = 0xdeadbeef;
  EXPECT_EQ(stream->Write("abc", 3, &written), S_OK);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(stream->Write("abc", 3, nullptr), S_OK);  // no count asked for
  // A TStream writer sees the refusal as a write error.
  TStreamBasedOnIStream adapter(stream.Get());
  EXPECT_THROW(adapter.WriteBuffer("abc", 3), StreamWriteError);
}

TEST_F(ProviderFixture, TheStreamIsWriteOnly) {
  char buffer[4];
  ULONG read = 0xdeadbeef;
  EXPECT_EQ(stream->Read(buffer, 4, &read), E_NOTIMPL);
  EXPECT_EQ(read, 0xdeadbeef);
  LARGE_INTEGER move{};
  ULARGE_INTEGER position;
  position.QuadPart = 0xdeadbeef;
  EXPECT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &position), E_NOTIMPL);
  EXPECT_EQ(position.QuadPart, 0xdeadbeefu);
  auto* poisoned = reinterpret_cast<IStream*>(0xdeadbeef);
  IStream* clone = poisoned;
  EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);
  EXPECT_EQ(clone, nullptr);
  STATSTG stat;
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), E_NOTIMPL);
  EXPECT_EQ(stream->Commit(0), E_NOTIMPL);

  ComPtr<IUnknown> unknown;
  EXPECT_EQ(stream.As(&unknown), S_OK);
  ComPtr<IContentProvider> notAProvider;
  EXPECT_EQ(stream.As(&notAProvider), E_NOINTERFACE);
  ComPtr<IStream> notAStream;
  EXPECT_EQ(provider.As(&notAStream), E_NOINTERFACE);
  EXPECT_EQ(provider.As(&unknown), S_OK);
}

}  // namespace
}  // namespace pageturn
