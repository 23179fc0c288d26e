// page_catcher.cpp -- a loopback pair that catches the filter's answer.
#include "page_catcher.h"

#include <cstdio>
#include <random>

namespace hxhost {

using platform::NetStatus;

namespace {

constexpr int kPairTimeoutMs = 2000;  // everything here is on loopback
constexpr size_t kMaxPage = 1 << 20;

}  // namespace

PageCatcher::PageCatcher() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "\r\n<<hxhost end of page %08x%08x%08x>>\r\n",
                static_cast<unsigned>(random()), static_cast<unsigned>(random()),
                static_cast<unsigned>(random()));
  marker_ = text;
}

bool PageCatcher::Open(std::string* error) {
  if (writer_.valid() && reader_.valid()) return true;
  writer_.Close();
  reader_.Close();
  platform::Socket listener;
  std::string peer;
  if (platform::ListenTcp("127.0.0.1", 0, &listener, error) != NetStatus::kOk) return false;
  if (platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener), kPairTimeoutMs, &writer_,
                           error) != NetStatus::kOk) {
    return false;
  }
  NetStatus status = platform::AcceptTcp(listener, kPairTimeoutMs, &reader_, &peer);
  if (status != NetStatus::kOk) {
    *error = std::string("no loopback connection: ") + platform::NetStatusText(status);
    writer_.Close();
    return false;
  }
  return true;
}

bool PageCatcher::Catch(const std::function<void(platform::SocketHandle)>& call, std::string* page,
                        std::string* error) {
  base::MutexLock lock(&mutex_);
  page->clear();
  if (!Open(error)) {
    call(platform::kNoSocket);
    return false;
  }
  call(writer_.handle());
  if (platform::SendAll(writer_, marker_.data(), marker_.size(), kPairTimeoutMs) != NetStatus::kOk) {
    *error = "cannot send on the loopback pair";
    writer_.Close();  // made anew on the next call
    return false;
  }
  std::string data;
  char chunk[16 * 1024];
  for (;;) {
    size_t end = data.find(marker_);
    if (end != std::string::npos) {
      page->assign(data, 0, end);
      return true;
    }
    size_t n = 0;
    NetStatus status = platform::Receive(reader_, chunk, sizeof chunk, kPairTimeoutMs, &n);
    if (status != NetStatus::kOk || data.size() > kMaxPage) {
      *error = "the filter's answer did not come back on the loopback pair";
      page->assign(data, 0, data.size() < kMaxPage ? data.size() : kMaxPage);
      writer_.Close();
      reader_.Close();
      return false;
    }
    data.append(chunk, n);
  }
}

}  // namespace hxhost
