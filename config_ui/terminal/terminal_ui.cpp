// terminal_ui.cpp -- the sheet in the terminal: the caption, the tabs, the
// current page, OK / Cancel / a disabled Apply and the help line, with the
// page protocol run through SheetDriver; and HXConfig's work on POSIX.
#include "terminal_ui.h"

#include <curses.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "keys.h"
#include "layout.h"
#include "platform.h"
#include "screen.h"
#include "env.h"
#include "store.h"
#include "templates.h"
#include "terminal_window.h"

namespace config_ui {
namespace terminal {
namespace {

// --- The sheet --------------------------------------------------------------------------

class SheetLayer final : public Layer {
 public:
  SheetLayer(Session& session, CPelluminSheet& sheet)
      : session_(session), sheet_(sheet), driver_(sheet, &SheetLayer::CreatePage, this) {}

  void Start() {
    driver_.Start();
    FocusPage();
  }
  void DestroyPages() {
    for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
      if (windows_[i]) sheet_.Page(i).OnDestroy();
    }
  }

  void Draw(bool top) override;
  void Key(const KeyEvent& key) override;
  void Click(int row, int col) override;
  void Abandon() override { PressCancel(); }
  bool done() const override { return done_; }
  const char* Help() const override { return Current().renaming() ? RenameHelp() : SheetHelp(); }

 private:
  static Controls& CreatePage(void* context, int index, PropertyPage& page) {
    auto* self = static_cast<SheetLayer*>(context);
    self->windows_[index].reset(new TerminalWindow(self->session_, page));
    return *self->windows_[index];
  }
  TerminalWindow& Current() const { return *windows_[driver_.current()]; }
  void FocusPage() {
    buttonFocus_ = Current().FocusEdge(true) ? -1 : kOk;
  }
  void SelectTab(int index) {
    if (index == driver_.current()) return;
    Current().EndRename(true);
    Current().DropFocus();
    driver_.Select(index);
    FocusPage();
  }
  void PressOk() {
    Current().EndRename(true);
    driver_.PressOk();
    done_ = true;
  }
  void PressCancel() {
    Current().EndRename(false);
    driver_.PressCancel();
    done_ = true;
  }
  void PressButton(int button) {
    if (button == kOk) PressOk();
    if (button == kCancel) PressCancel();  // Apply is disabled: nothing
  }
  void MoveFocus(bool forward);

  static constexpr int kOk = 0, kCancel = 1, kApply = 2;
  Session& session_;
  CPelluminSheet& sheet_;
  SheetDriver driver_;
  std::unique_ptr<TerminalWindow> windows_[CPelluminSheet::kPageCount];
  int buttonFocus_ = -1;  // the focus is on OK or Cancel, not in the page
  bool done_ = false;
  SheetLayout layout_;
  int tabStarts_[CPelluminSheet::kPageCount] = {};
  int tabWidths_[CPelluminSheet::kPageCount] = {};
};

void SheetLayer::MoveFocus(bool forward) {
  TerminalWindow& page = Current();
  if (buttonFocus_ < 0) {
    // Through the page's controls, then OK and Cancel (Apply is disabled).
    if (!page.MoveFocus(forward, false)) buttonFocus_ = forward ? kOk : kCancel;
    return;
  }
  if (forward && buttonFocus_ == kOk) {
    buttonFocus_ = kCancel;
  } else if (!forward && buttonFocus_ == kCancel) {
    buttonFocus_ = kOk;
  } else {
    buttonFocus_ = page.FocusEdge(forward) ? -1 : (forward ? kOk : kCancel);
  }
}

void SheetLayer::Draw(bool top) {
  layout_ = LayoutSheet(COLS, LINES);
  const SheetLayout& l = layout_;
  // Caption bar.
  Fill(l.captionRow, l.left, l.width, ' ', A_REVERSE);
  Put(l.captionRow, l.left + 1, sheet_.Caption(), l.width - 2, A_REVERSE | A_BOLD);
  // Tabs, the current one marked.
  const char* captions[CPelluminSheet::kPageCount];
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) captions[i] = sheet_.Page(i).Template().caption;
  const std::string strip = TabStrip(captions, CPelluminSheet::kPageCount, driver_.current(), tabStarts_);
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
    tabWidths_[i] = static_cast<int>(std::strlen(captions[i])) + 2;
    const attr_t attr = i == driver_.current() ? A_BOLD | A_REVERSE : A_NORMAL;
    Put(l.tabRow, l.left + 1 + tabStarts_[i], strip.substr(static_cast<std::size_t>(tabStarts_[i]),
                                                          static_cast<std::size_t>(tabWidths_[i])),
        l.width - 2 - tabStarts_[i], attr);
  }
  // The frame round the page, and the page.
  Frame({l.page.row - 1, l.page.col - 1, l.page.height + 2, l.page.width + 2}, "");
  Current().Draw(l.page, l.scale, top && buttonFocus_ < 0);
  // OK, Cancel and a disabled Apply.
  const CellRect* rects[] = {&l.ok, &l.cancel, &l.apply};
  const char* names[] = {"OK", "Cancel", "Apply"};
  for (int b = 0; b < 3; ++b) {
    attr_t attr = b == kApply ? A_DIM : (b == kOk ? A_BOLD : A_NORMAL);
    if (b == buttonFocus_) attr |= A_REVERSE;
    Put(rects[b]->row, rects[b]->col, ButtonFace(names[b], rects[b]->width), rects[b]->width, attr);
  }
  if (top && buttonFocus_ >= 0) session_.SetCursor(rects[buttonFocus_]->row, rects[buttonFocus_]->col + 1);
  // The help line of whatever has the keyboard.
  const std::string help = l.fits ? session_.TopHelp()
                                  : "Enlarge the terminal to " + std::to_string(SheetColumnsNeeded()) +
                                        "x" + std::to_string(SheetRowsNeeded()) + " to see the whole sheet";
  Put(l.helpRow, l.left, help, std::min(COLS, l.width));
}

void SheetLayer::Key(const KeyEvent& key) {
  switch (key.action) {
    case Action::kNextTab:
      SelectTab((driver_.current() + 1) % CPelluminSheet::kPageCount);
      return;
    case Action::kPrevTab:
      SelectTab((driver_.current() + CPelluminSheet::kPageCount - 1) % CPelluminSheet::kPageCount);
      return;
    case Action::kSelectTab:
      SelectTab(key.value);
      return;
    default:
      break;
  }
  if (buttonFocus_ >= 0) {
    if (key.action == Action::kSpace || key.action == Action::kEnter) {
      PressButton(buttonFocus_);
      return;
    }
  } else if (Current().Key(key)) {
    return;
  }
  switch (key.action) {
    case Action::kNextControl: MoveFocus(true); break;
    case Action::kPrevControl: MoveFocus(false); break;
    case Action::kEnter: PressOk(); break;
    case Action::kEscape: PressCancel(); break;
    default: break;
  }
}

void SheetLayer::Click(int row, int col) {
  const SheetLayout& l = layout_;
  if (row == l.tabRow) {
    for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
      const int start = l.left + 1 + tabStarts_[i];
      if (col >= start && col < start + tabWidths_[i]) SelectTab(i);
    }
    return;
  }
  const CellRect* rects[] = {&l.ok, &l.cancel};
  for (int b = 0; b < 2; ++b) {
    if (rects[b]->Contains(row, col)) {
      Current().EndRename(true);
      Current().DropFocus();
      buttonFocus_ = b;
      PressButton(b);
      return;
    }
  }
  if (l.page.Contains(row, col) && Current().Click(row, col)) buttonFocus_ = -1;
}

// --- Terminal set-up ----------------------------------------------------------------------

// The short wait after an Esc for the rest of a key's sequence.
constexpr int kEscapeDelayMs = 50;

}  // namespace

bool TerminalSheet::Open(std::string* why) {
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') {
    *why = "TERM is not set";
    return false;
  }
  if (!TerminalDescriptionExists(term)) {
    *why = std::string("no terminal description for TERM=") + term;
    return false;
  }
  // ncurses draws lines and boxes in the terminal's own character set,
  // which it learns from the locale; the host's is put back on Close.
  const char* hostLocale = std::setlocale(LC_CTYPE, nullptr);
  hostLocale_ = hostLocale != nullptr ? hostLocale : "C";
  std::setlocale(LC_CTYPE, "");
  // ncurses takes over the signals of a terminal (SIGWINCH for a resize,
  // SIGINT, SIGTERM and SIGTSTP to give the terminal back) where the host
  // left them alone; the host gets its own back on Close.
  hostSignals_ = platform::SaveSignalHandlers();
  // newterm makes its screen the current one; a host with a curses screen
  // of its own gets that back on Close.
  hostScreen_ = set_term(nullptr);
  // newterm, unlike initscr, reports a failure instead of ending the process.
  SCREEN* screen = newterm(term, stdout, stdin);
  if (screen == nullptr) {
    if (hostScreen_ != nullptr) set_term(static_cast<SCREEN*>(hostScreen_));
    hostScreen_ = nullptr;
    platform::RestoreSignalHandlers(static_cast<platform::SavedSignalHandlers*>(hostSignals_));
    hostSignals_ = nullptr;
    std::setlocale(LC_CTYPE, hostLocale_.c_str());
    *why = std::string("no terminal description for TERM=") + term;
    return false;
  }
  screen_ = screen;
  set_term(screen);
  raw();  // Ctrl-C is a key here (Cancel), not a signal to the host
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(kEscapeDelayMs);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);
  return true;
}

void TerminalSheet::Close() {
  if (screen_ == nullptr) return;
  SCREEN* screen = static_cast<SCREEN*>(screen_);
  set_term(screen);
  mousemask(0, nullptr);
  endwin();
  delscreen(screen);
  screen_ = nullptr;
  if (hostScreen_ != nullptr) set_term(static_cast<SCREEN*>(hostScreen_));
  hostScreen_ = nullptr;
  platform::RestoreSignalHandlers(static_cast<platform::SavedSignalHandlers*>(hostSignals_));
  hostSignals_ = nullptr;
  std::setlocale(LC_CTYPE, hostLocale_.c_str());
}

void TerminalSheet::RunSheet(CPelluminSheet& sheet) {
  Session session;
  SheetLayer layer(session, sheet);
  layer.Start();
  session.Run(layer);
  layer.DestroyPages();
}

int RunTerminalConfiguration(const char* keyPath) {
  const char* shown = keyPath != nullptr ? keyPath : "";
  if (!platform::StandardStreamsAreTerminal()) {
    std::fprintf(stderr,
                 "HXConfig: standard input and output are not a terminal; no settings sheet "
                 "shown for \"%s\"\n",
                 shown);
    return 0;
  }
  // Message boxes are captioned with the plug-in's file name ("libtarnwick").
  char module[4096];
  if (platform::ModuleFileName(reinterpret_cast<const void*>(&RunTerminalConfiguration), module,
                               sizeof module)) {
    SetMessageCaption(CaptionFromModulePath(module));
  }
  TerminalSheet frontEnd;
  std::string why;
  if (!frontEnd.Open(&why)) {
    std::fprintf(stderr, "HXConfig: cannot use the terminal (%s); no settings sheet shown for \"%s\"\n",
                 why.c_str(), shown);
    return 0;
  }
  settings::RegistryStore store(platform::Env::Default()->registry());
  RunConfiguration(keyPath, store, frontEnd);
  frontEnd.Close();
  // A settings file that cannot be read shows as defaults in the sheet and
  // takes no save ("Error saving settings to registry."): say why, now that
  // the terminal is back.
  std::string malformed;
  if (store.Malformed(shown, &malformed)) {
    std::fprintf(stderr, "HXConfig: the settings could not be read or saved: %s\n",
                 malformed.c_str());
  }
  return 0;
}

}  // namespace terminal
}  // namespace config_ui
