// page_catcher.cpp -- loopback pairs that catch the filter's answer.
#include "page_catcher.h"

#include <cstdio>
#include <random>
#include <utility>

namespace hxhost {

using platform::NetStatus;

namespace {

constexpr int kPairTimeoutMs = 2000;  // everything here is on loopback
constexpr size_t kMaxPage = 1 << 20;

std::string NewMarker() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "\r\n<<hxhost end of page %08x%08x%08x>>\r\n",
                static_cast<unsigned>(random()), static_cast<unsigned>(random()),
                static_cast<unsigned>(random()));
  return text;
}

}  // namespace

PageCatcher::PageCatcher() : marker_(NewMarker()) {}

size_t PageCatcher::IdlePairs() {
  base::MutexLock lock(&mutex_);
  return idle_.size();
}

bool PageCatcher::TakePair(Pair* pair, std::string* error) {
  {
    base::MutexLock lock(&mutex_);
    if (!idle_.empty()) {
      *pair = std::move(idle_.back());
      idle_.pop_back();
      return true;
    }
  }
  // Made outside the lock: other calls go on meanwhile.
  platform::Socket listener;
  std::string peer;
  if (platform::ListenTcp("127.0.0.1", 0, &listener, error) != NetStatus::kOk) return false;
  if (platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener), kPairTimeoutMs,
                           &pair->writer, error) != NetStatus::kOk) {
    return false;
  }
  NetStatus status = platform::AcceptTcp(listener, kPairTimeoutMs, &pair->reader, &peer);
  if (status != NetStatus::kOk) {
    *error = std::string("no loopback connection: ") + platform::NetStatusText(status);
    pair->writer.Close();
    return false;
  }
  return true;
}

void PageCatcher::GiveBack(Pair pair) {
  base::MutexLock lock(&mutex_);
  if (idle_.size() < kMaxIdlePairs) idle_.push_back(std::move(pair));
  // Otherwise the pair closes as it goes out of scope.
}

bool PageCatcher::ReadPage(const Pair& pair, std::string* page, bool* clean,
                           std::string* error) const {
  std::string data;
  char chunk[16 * 1024];
  for (;;) {
    size_t end = data.find(marker_);
    if (end != std::string::npos) {
      page->assign(data, 0, end);
      // The marker was sent last: bytes after it (a filter that writes
      // after its call returned) leave the pair unfit for another page.
      *clean = data.size() == end + marker_.size();
      return true;
    }
    size_t n = 0;
    NetStatus status = platform::Receive(pair.reader, chunk, sizeof chunk, kPairTimeoutMs, &n);
    if (status != NetStatus::kOk || data.size() > kMaxPage) {
      *error = "the filter's answer did not come back on the loopback pair";
      page->assign(data, 0, data.size() < kMaxPage ? data.size() : kMaxPage);
      return false;
    }
    data.append(chunk, n);
  }
}

bool PageCatcher::Catch(const std::function<void(platform::SocketHandle)>& call, std::string* page,
                        std::string* error) {
  page->clear();
  Pair pair;
  if (!TakePair(&pair, error)) {
    call(platform::kNoSocket);
    return false;
  }
  call(pair.writer.handle());
  if (platform::SendAll(pair.writer, marker_.data(), marker_.size(), kPairTimeoutMs) !=
      NetStatus::kOk) {
    *error = "cannot send on the loopback pair";
    return false;  // the pair closes: a broken one is not kept
  }
  bool clean = false;
  if (!ReadPage(pair, page, &clean, error)) return false;
  if (clean) GiveBack(std::move(pair));
  return true;
}

}  // namespace hxhost
