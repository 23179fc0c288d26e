// screen.cpp -- drawing, the key loop of each modal layer, and the two
// layers every window can open: a dialog and a message box.
#include "screen.h"

#include <algorithm>
#include <cstring>

#include "terminal_window.h"

namespace config_ui {
namespace terminal {

namespace {

// Texts are 8-bit and come from the settings file: a control character is
// never sent to the terminal, and neither is a byte ncurses would take as
// the start of a multibyte character.
chtype Shown(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x7f ? u : '?';
}

}  // namespace

void Put(int row, int col, const std::string& text, int maxWidth, attr_t attr) {
  if (row < 0 || row >= LINES) return;
  for (int i = 0; i < static_cast<int>(text.size()) && i < maxWidth; ++i) {
    const int c = col + i;
    if (c < 0) continue;
    if (c >= COLS) break;
    mvaddch(row, c, Shown(text[static_cast<std::size_t>(i)]) | attr);
  }
}

void Fill(int row, int col, int width, chtype ch, attr_t attr) {
  if (row < 0 || row >= LINES) return;
  for (int c = std::max(col, 0); c < col + width && c < COLS; ++c) mvaddch(row, c, ch | attr);
}

void PutChar(int row, int col, chtype ch) {
  if (row >= 0 && row < LINES && col >= 0 && col < COLS) mvaddch(row, col, ch);
}

void Frame(const CellRect& r, const std::string& title, attr_t titleAttr) {
  if (r.width < 2 || r.height < 2) return;
  const int bottom = r.row + r.height - 1;
  const int right = r.col + r.width - 1;
  Fill(r.row, r.col + 1, r.width - 2, ACS_HLINE);
  Fill(bottom, r.col + 1, r.width - 2, ACS_HLINE);
  for (int row = r.row + 1; row < bottom; ++row) {
    PutChar(row, r.col, ACS_VLINE);
    PutChar(row, right, ACS_VLINE);
  }
  PutChar(r.row, r.col, ACS_ULCORNER);
  PutChar(r.row, right, ACS_URCORNER);
  PutChar(bottom, r.col, ACS_LLCORNER);
  PutChar(bottom, right, ACS_LRCORNER);
  if (!title.empty()) Put(r.row, r.col + 2, " " + title + " ", r.width - 4, titleAttr);
}

void Clear(const CellRect& r) {
  for (int row = r.row; row < r.row + r.height; ++row) Fill(row, r.col, r.width, ' ');
}

namespace {

std::string Centred(const std::string& text, int width) {
  if (width <= 0) return std::string();
  std::string out(static_cast<std::size_t>(width), ' ');
  const int n = std::min(static_cast<int>(text.size()), width);
  const int at = (width - n) / 2;
  out.replace(static_cast<std::size_t>(at), static_cast<std::size_t>(n), text, 0,
              static_cast<std::size_t>(n));
  return out;
}

}  // namespace

// "[   OK   ]", with the text centred between the brackets.
std::string ButtonFace(const std::string& text, int width) {
  if (width < 3) return text;
  return "[" + Centred(text, width - 2) + "]";
}

namespace {

int ExtendedKeyCode(const char* capability) {
  char* sequence = tigetstr(const_cast<char*>(capability));
  if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) return 0;
  const int code = key_defined(sequence);
  return code > 0 ? code : 0;
}

}  // namespace

KeyCodes CursesKeyCodes() {
  KeyCodes k;
  k.backTab = KEY_BTAB;
  k.enter = KEY_ENTER;
  k.backspace = KEY_BACKSPACE;
  k.deleteChar = KEY_DC;
  k.up = KEY_UP;
  k.down = KEY_DOWN;
  k.left = KEY_LEFT;
  k.right = KEY_RIGHT;
  k.pageUp = KEY_PPAGE;
  k.pageDown = KEY_NPAGE;
  k.home = KEY_HOME;
  k.end = KEY_END;
  k.shiftUp = KEY_SR;
  k.shiftDown = KEY_SF;
  k.shiftHome = KEY_SHOME;
  k.shiftEnd = KEY_SEND;
  k.f2 = KEY_F(2);
  k.resize = KEY_RESIZE;
  k.mouse = KEY_MOUSE;
  k.ctrlPageDown = ExtendedKeyCode("kNXT5");
  k.ctrlPageUp = ExtendedKeyCode("kPRV5");
  return k;
}

namespace {

class DialogLayer final : public Layer {
 public:
  DialogLayer(Session& session, WindowLogic& logic) : window_(session, logic) {}
  TerminalWindow& window() { return window_; }

  void Draw(bool top) override {
    const DialogLayout d = LayoutDialog(window_.tmpl(), COLS, LINES);
    Clear(d.box.frame);
    Frame(d.box.frame, window_.tmpl().caption, A_BOLD);
    window_.Draw(d.box.client, d.scale, top);
    box_ = d.box.frame;
  }
  void Key(const KeyEvent& key) override {
    if (window_.Key(key)) return;
    switch (key.action) {
      case Action::kNextControl: window_.MoveFocus(true, true); break;
      case Action::kPrevControl: window_.MoveFocus(false, true); break;
      case Action::kEnter: window_.Press(IDOK_BUTTON); break;  // the default button
      case Action::kEscape: window_.Press(IDCANCEL_BUTTON); break;
      default: break;
    }
  }
  void Click(int row, int col) override {
    if (box_.Contains(row, col)) window_.Click(row, col);
  }
  void Abandon() override { window_.Close(); }
  bool done() const override { return window_.closed(); }
  const char* Help() const override { return window_.renaming() ? RenameHelp() : DialogHelp(); }

 private:
  TerminalWindow window_;
  CellRect box_;
};

class MessageLayer final : public Layer {
 public:
  MessageLayer(Session& session, const std::string& text, MessageIcon icon)
      : session_(session), icon_(icon) {
    std::size_t start = 0;
    while (true) {
      const std::size_t nl = text.find('\n', start);
      lines_.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
  }
  void Draw(bool top) override {
    const int iconCells = icon_ == MessageIcon::kWarning ? 4 : 0;
    int width = static_cast<int>(MessageCaption().size()) + 4;
    for (const std::string& l : lines_) width = std::max(width, static_cast<int>(l.size()) + iconCells + 4);
    width = std::max(width, 12);
    const int height = static_cast<int>(lines_.size()) + 4;
    const BoxLayout b = CentreBox(std::min(width, COLS - 2), height, COLS, LINES);
    Clear(b.frame);
    Frame(b.frame, MessageCaption(), A_BOLD);
    if (iconCells > 0) Put(b.client.row + 1, b.client.col + 2, "/!\\", 3, A_BOLD);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      Put(b.client.row + 1 + static_cast<int>(i), b.client.col + 2 + iconCells, lines_[i],
          b.client.width - 2 - iconCells);
    }
    ok_ = {b.client.row + b.client.height - 2, b.client.col + (b.client.width - 8) / 2, 1, 8};
    Put(ok_.row, ok_.col, ButtonFace("OK", ok_.width), ok_.width, A_BOLD | A_REVERSE);
    if (top) session_.SetCursor(ok_.row, ok_.col + 1);
  }
  void Key(const KeyEvent& key) override {
    if (key.action == Action::kEnter || key.action == Action::kSpace ||
        key.action == Action::kEscape) {
      done_ = true;
    }
  }
  void Click(int row, int col) override {
    if (ok_.Contains(row, col)) done_ = true;
  }
  void Abandon() override { done_ = true; }
  bool done() const override { return done_; }
  const char* Help() const override { return MessageHelp(); }

 private:
  Session& session_;
  MessageIcon icon_;
  std::vector<std::string> lines_;
  CellRect ok_;
  bool done_ = false;
};

}  // namespace

void Session::RunDialog(WindowLogic& dialog) {
  DialogLayer layer(*this, dialog);
  dialog.OnCreate(layer.window());
  // A dialog opens with the focus on its first control with a tab stop.
  if (!layer.window().HasFocus()) layer.window().FocusEdge(true);
  Run(layer);
  dialog.OnDestroy();
}

void Session::RunMessage(const std::string& text, MessageIcon icon) {
  beep();
  MessageLayer layer(*this, text, icon);
  Run(layer);
}

void Session::Redraw() {
  cursorRow_ = cursorCol_ = -1;
  erase();
  for (std::size_t i = 0; i < layers_.size(); ++i) layers_[i]->Draw(i + 1 == layers_.size());
  if (cursorRow_ >= 0 && cursorRow_ < LINES && cursorCol_ >= 0 && cursorCol_ < COLS) {
    move(cursorRow_, cursorCol_);
    curs_set(1);
  } else {
    curs_set(0);
  }
  refresh();
}

KeyEvent Session::Read(MEVENT* mouse) {
  const int key = getch();
  if (key == ERR) {
    // A blocking read fails only when the terminal has gone (the SSH
    // session closed): after a few, give up as Cancel would.
    if (++failedReads_ >= 50) lost_ = true;
    return {};
  }
  failedReads_ = 0;
  int following = -1;
  if (key == 27) {
    // A lone Esc, or Alt-key (Esc, then the key at once); ncurses has
    // already waited ESCDELAY for a sequence it knows.
    nodelay(stdscr, TRUE);
    following = getch();
    if (following != ERR && !(following >= '1' && following <= '4')) {
      // A sequence this terminal description does not know: drop it all
      // rather than take its Esc for Cancel.
      while (getch() != ERR) {
      }
      nodelay(stdscr, FALSE);
      return {};
    }
    nodelay(stdscr, FALSE);
  }
  KeyEvent event = MapKey(key, following == ERR ? -1 : following, codes_);
  if (event.action == Action::kMouse && getmouse(mouse) != OK) return {};
  return event;
}

void Session::Run(Layer& layer) {
  layers_.push_back(&layer);
  while (!layer.done()) {
    if (lost_) {
      layer.Abandon();
      break;
    }
    Redraw();
    MEVENT mouse{};
    const KeyEvent key = Read(&mouse);
    switch (key.action) {
      case Action::kNone:
      case Action::kResize:  // the next Redraw lays everything out afresh
        break;
      case Action::kMouse:
        if (mouse.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) layer.Click(mouse.y, mouse.x);
        break;
      default:
        layer.Key(key);
        break;
    }
  }
  layers_.pop_back();
}

}  // namespace terminal
}  // namespace config_ui
