#include "platform/terminal/TerminalStatusBar.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace quib {

TerminalStatusBar::TerminalStatusBar(MainQueue& mainQueue, std::ostream& out, int inputFd,
                                     std::function<void()> onQuit, std::function<void()> onEndOfInput,
                                     bool revealCode)
    : mainQueue_(mainQueue),
      out_(out),
      inputFd_(inputFd),
      revealCode_(revealCode),
      onQuit_(std::move(onQuit)),
      onEndOfInput_(std::move(onEndOfInput)) {
  if (pipe(wakePipe_) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  reader_ = std::thread([this] { readInput(); });
}

TerminalStatusBar::~TerminalStatusBar() {
  *alive_ = false;
  if (wakePipe_[1] >= 0) (void)!write(wakePipe_[1], "x", 1);
  reader_.join();
  for (int fd : wakePipe_)
    if (fd >= 0) close(fd);
}

namespace {
// "페어링 코드:  123456" with every digit of the code starred.
std::string concealed(std::string title) {
  const auto gap = title.rfind("  ");
  for (auto i = gap == std::string::npos ? title.size() : gap + 2; i < title.size(); ++i) title[i] = '*';
  return title;
}
}  // namespace

std::string TerminalStatusBar::render(const Menu& menu, bool revealCode) {
  std::ostringstream s;
  s << "──────── Quibbleton ────────\n";
  int number = 0;
  for (const auto& shown : menu) {
    MenuItem item = shown;
    if (!revealCode && item.action == MenuItem::Action::copyCode) item.title = concealed(item.title);
    if (item.isSeparator) {
      s << "  ─────\n";
      continue;
    }
    if (item.enabled) {
      s << "[" << ++number << "] " << item.title;
      if (!item.keyEquivalent.empty()) s << "  (" << item.keyEquivalent << ")";
      // What choosing does, when the item says so (a device item unpairs it).
      if (item.toolTip) s << "  — " << *item.toolTip;
    } else {
      s << "    " << item.title;
    }
    s << "\n";
  }
  s << "번호를 입력해 선택, q 종료\n";
  return s.str();
}

void TerminalStatusBar::setMenu(const Menu& menu) {
  if (printed_ && menu == menu_) return;
  printed_ = true;
  previousMenu_ = std::move(menu_);
  menu_ = menu;
  printedAt_ = mainQueue_.clock().now();
  out_ << render(menu_, revealCode_) << std::flush;
}

namespace {
// The chosen items of a menu, in the order of their numbers.
std::vector<const MenuItem*> numbered(const Menu& menu) {
  std::vector<const MenuItem*> items;
  for (const auto& item : menu)
    if (!item.isSeparator && item.enabled) items.push_back(&item);
  return items;
}

bool sameNumbering(const Menu& a, const Menu& b) {
  auto x = numbered(a), y = numbered(b);
  return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                    [](const MenuItem* p, const MenuItem* q) { return *p == *q; });
}
}  // namespace

void TerminalStatusBar::choose(const std::string& line) {
  if (line == "q" || line == "Q") {
    if (onQuit_) onQuit_();
    return;
  }
  int wanted = 0;
  try {
    std::size_t used = 0;
    wanted = std::stoi(line, &used);
    if (used != line.size()) wanted = 0;
  } catch (const std::exception&) {
    wanted = 0;
  }
  if (line.empty()) return;
  const auto items = numbered(menu_);
  if (wanted >= 1 && static_cast<std::size_t>(wanted) <= items.size()) {
    const bool fresh = mainQueue_.clock().now() - printedAt_ < kSettle;
    if (fresh && !previousMenu_.empty() && !sameNumbering(previousMenu_, menu_)) {
      // The user may have chosen from the menu before this one.
      out_ << "메뉴가 바뀌었습니다. 다시 선택하세요\n" << render(menu_, revealCode_) << std::flush;
      printedAt_ = mainQueue_.clock().now();
      previousMenu_ = menu_;  // the menu on screen now is the one to choose from
      return;
    }
    const MenuItem item = *items[static_cast<std::size_t>(wanted) - 1];
    if (onChoose_) onChoose_(item);
    return;
  }
  out_ << "메뉴에 없는 번호입니다: " << line << "\n" << std::flush;
}

void TerminalStatusBar::readInput() {
  std::string pending;
  char buf[256];
  for (;;) {
    pollfd fds[2] = {{inputFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (poll(fds, wakePipe_[0] >= 0 ? 2 : 1, -1) < 0) continue;
    if (fds[1].revents) return;
    ssize_t n = read(inputFd_, buf, sizeof buf);
    if (n <= 0) {
      std::weak_ptr<bool> alive = alive_;
      mainQueue_.post([this, alive] {
        if (alive.lock() && *alive.lock() && onEndOfInput_) onEndOfInput_();
      });
      return;
    }
    pending.append(buf, static_cast<std::size_t>(n));
    // Menu choices are a few characters; a runaway line is dropped rather than kept.
    if (pending.size() > 4096 && pending.find('\n') == std::string::npos) pending.clear();
    for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      while (!line.empty() && line.front() == ' ') line.erase(0, 1);
      std::weak_ptr<bool> alive = alive_;
      mainQueue_.post([this, alive, line] {
        auto a = alive.lock();
        if (a && *a) choose(line);
      });
    }
  }
}

}  // namespace quib
