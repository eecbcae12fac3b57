// The keyword table. Order matters wherever one keyword is a prefix of
// another's line, so rows are tried strictly top to bottom.
#include <array>

#include "core/dispatch.h"

namespace {

enum class Form { Exact, Prefix, Target, Request, ExactOrAt, PrefixNotSet };

struct Row {
  const char* kw;
  Form form;
  Cmd cmd;
};

constexpr std::array<Row, 73> kTable = {{
    {"RET ", Form::Prefix, Cmd::Ret},
    {"BLOB ", Form::Prefix, Cmd::Blob},
    {"EVAL@* ", Form::Prefix, Cmd::EvalAll},
    {"EVAL", Form::Target, Cmd::Eval},
    {"TITLE", Form::Target, Cmd::Title},
    {"SIZE", Form::Target, Cmd::Size},
    {"DLG ", Form::Prefix, Cmd::Dlg},
    {"NAVR ", Form::Prefix, Cmd::NavR},
    {"POPUPR ", Form::Prefix, Cmd::PopupR},
    {"FIND ", Form::Prefix, Cmd::Find},
    {"STOPFIND ", Form::Prefix, Cmd::StopFind},
    {"QUIT", Form::Exact, Cmd::Quit},
    {"RELOAD", Form::Exact, Cmd::Reload},
    {"PRINT", Form::ExactOrAt, Cmd::Print},
    {"MENUBEGIN", Form::ExactOrAt, Cmd::MenuBegin},
    {"MENURESET@", Form::Prefix, Cmd::MenuReset},
    {"MENUUPD ", Form::Prefix, Cmd::MenuUpd},
    {"MENUUPD@", Form::Prefix, Cmd::MenuUpdAt},
    {"TRAYBEGIN", Form::Prefix, Cmd::TrayBegin},
    {"TRAYREMOVE", Form::Exact, Cmd::TrayRemove},
    {"CTXBEGIN", Form::Exact, Cmd::CtxBegin},
    {"CTXCLEAR", Form::Exact, Cmd::CtxClear},
    {"CTXSUPPRESS", Form::Prefix, Cmd::CtxSuppress},
    {"WINOP", Form::Target, Cmd::WinOp},
    {"CHROME", Form::Target, Cmd::Chrome},
    {"DRAGWIN", Form::Target, Cmd::DragWin},
    {"RESIZEWIN", Form::Target, Cmd::ResizeWin},
    {"AUDIOFILTERS", Form::PrefixNotSet, Cmd::AudioFilters},
    {"AUDIOBALANCE", Form::Prefix, Cmd::AudioBalance},
    {"AUDIOFILTERSET ", Form::Prefix, Cmd::AudioFilterSet},
    {"WINOPEN ", Form::Prefix, Cmd::WinOpen},
    {"WINCLOSE ", Form::Prefix, Cmd::WinClose},
    {"CLIPWRITE ", Form::Prefix, Cmd::ClipWrite},
    {"CLIPWATCH ", Form::Prefix, Cmd::ClipWatch},
    {"GET ", Form::Prefix, Cmd::Get},
    {"NOTIFY ", Form::Prefix, Cmd::Notify},
    {"KEYSTROKE", Form::Request, Cmd::Keystroke},
    {"PERMCHK", Form::Request, Cmd::PermChk},
    {"PERMREQ", Form::Request, Cmd::PermReq},
    {"SHELL", Form::Request, Cmd::Shell},
    {"LOGIN", Form::Request, Cmd::Login},
    {"POWER", Form::Request, Cmd::Power},
    {"SOUND", Form::Request, Cmd::Sound},
    {"SECRET", Form::Request, Cmd::Secret},
    {"COOKIES", Form::Request, Cmd::Cookies},
    {"CAPTURE", Form::Request, Cmd::Capture},
    {"PDF", Form::Request, Cmd::Pdf},
    {"PDF@", Form::Prefix, Cmd::PdfAt},
    {"THUMB", Form::Request, Cmd::Thumb},
    {"AUTH", Form::Request, Cmd::Auth},
    {"SAY", Form::Request, Cmd::Say},
    {"SAYSTOP", Form::Exact, Cmd::SayStop},
    {"VOICES", Form::Request, Cmd::Voices},
    {"PICKCOLOR", Form::Request, Cmd::PickColor},
    {"OCR", Form::Request, Cmd::Ocr},
    {"OSA", Form::Request, Cmd::Osa},
    {"SPOTLIGHT", Form::Request, Cmd::Spotlight},
    {"RECORD", Form::Request, Cmd::Record},
    {"WINCTRL", Form::Request, Cmd::WinCtrl},
    {"AI available ", Form::Prefix, Cmd::AiAvailable},
    {"AI generate ", Form::Prefix, Cmd::AiGenerate},
    {"AUDIOTAP STOP", Form::Exact, Cmd::AudioTapStop},
    {"AUDIOTAP", Form::Request, Cmd::AudioTap},
    {"SAMPLER ", Form::Prefix, Cmd::Sampler},
    {"MOUSETRACK STOP", Form::Exact, Cmd::MouseTrackStop},
    {"MOUSETRACK", Form::Request, Cmd::MouseTrack},
    {"NOWPLAYING", Form::Prefix, Cmd::NowPlaying},
    {"HKREG ", Form::Prefix, Cmd::HkReg},
    {"HKUNREG ", Form::Prefix, Cmd::HkUnreg},
    {"ATTENTION", Form::Prefix, Cmd::Attention},
    {"APPICON ", Form::Prefix, Cmd::AppIcon},
    {"BADGE", Form::Prefix, Cmd::Badge},
    {"PROGRESS", Form::Prefix, Cmd::Progress},
}};

bool match_row(const Row& r, std::string_view line, CmdMatch& m) {
  std::string_view kw = r.kw;
  switch (r.form) {
    case Form::Exact:
      return line == kw;
    case Form::Prefix:
      if (!line.starts_with(kw)) return false;
      m.rest = line.substr(kw.size());
      return true;
    case Form::PrefixNotSet:
      if (!line.starts_with(kw) || line.starts_with("AUDIOFILTERSET")) return false;
      m.rest = line.substr(kw.size());
      return true;
    case Form::ExactOrAt:
      // "KW" alone names the main window; "KW@<id>" names another.
      if (line == kw) {
        m.win = "main";
        return true;
      }
      if (line.size() > kw.size() && line.starts_with(kw) && line[kw.size()] == '@') {
        m.win = line.substr(kw.size() + 1);
        return true;
      }
      return false;
    case Form::Target: {
      if (!line.starts_with(kw)) return false;
      std::string_view after = line.substr(kw.size());
      if (after.empty()) {
        m.win = "main";
        return true;
      }
      if (after[0] == ' ') {
        m.win = "main";
        m.rest = after.substr(1);
        return true;
      }
      if (after[0] != '@') return false;
      after.remove_prefix(1);
      size_t sp = after.find(' ');
      m.win = after.substr(0, sp);
      if (sp != std::string_view::npos) m.rest = after.substr(sp + 1);
      return true;
    }
    case Form::Request: {
      if (line.size() <= kw.size() || !line.starts_with(kw) || line[kw.size()] != ' ') return false;
      std::string_view after = line.substr(kw.size() + 1);
      size_t sp = after.find(' ');
      m.id = after.substr(0, sp);
      if (sp != std::string_view::npos) m.rest = after.substr(sp + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

CmdMatch match_command(std::string_view line) {
  for (const Row& r : kTable) {
    CmdMatch m;
    if (match_row(r, line, m)) {
      m.cmd = r.cmd;
      return m;
    }
  }
  return {};
}

const char* cmd_keyword(Cmd c) {
  for (const Row& r : kTable)
    if (r.cmd == c) return r.kw;
  return "";
}
