// handle_line: every backend line arrives here on the main thread, in order.
#include "app/root.h"
#include "audio/audio.h"
#include "capture/capture.h"
#include "content/content.h"
#include "core/app.h"
#include "core/dispatch.h"
#include "core/wire.h"
#include "desktop/desktop.h"
#include "input/input.h"
#include "menus/menus.h"
#include "webview/webview.h"
#include "windows/windows.h"

void handle_line(const std::string& line) {
  if (menus_take_line(line)) return;
  CmdMatch m = match_command(line);
  switch (m.cmd) {
    case Cmd::None: return;
    case Cmd::Ret: do_ret(m.rest); return;
    case Cmd::Blob: do_blob(m.rest); return;
    case Cmd::EvalAll: do_eval_all(m.rest); return;
    case Cmd::Eval: do_eval(m.win, m.rest); return;
    case Cmd::Title: do_title(m.win, m.rest); return;
    case Cmd::Size: do_size(m.win, m.rest); return;
    case Cmd::Quit: app_quit(); return;
    case Cmd::Reload: do_reload(); return;
    case Cmd::Get: do_get(m.rest); return;
    // Bare "MENUBEGIN" is the application menu; "MENUBEGIN@<id>" a window's.
    case Cmd::MenuBegin: do_menu_begin(line == "MENUBEGIN" ? "" : m.win); return;
    case Cmd::MenuReset: do_menu_reset(m.rest); return;
    case Cmd::MenuUpd: do_menu_upd(m.rest); return;
    case Cmd::MenuUpdAt: do_menu_upd_at(m.rest); return;
    case Cmd::TrayBegin: do_tray_begin(m.rest); return;
    case Cmd::TrayRemove: do_tray_remove(); return;
    case Cmd::CtxBegin: do_ctx_begin(); return;
    case Cmd::CtxClear: do_ctx_clear(); return;
    case Cmd::CtxSuppress: do_ctx_suppress(m.rest); return;
    case Cmd::WinOpen: do_winopen(m.rest); return;
    case Cmd::WinClose: do_winclose(m.rest); return;
    case Cmd::WinOp: do_winop(m.win, m.rest); return;
    case Cmd::Chrome: apply_chrome(m.win, split_tabs(m.rest)); return;
    case Cmd::DragWin: do_dragwin(m.win); return;
    case Cmd::ResizeWin: do_resizewin(m.win, m.rest); return;
    case Cmd::Ocr: got_unsupported(m.id, "OCR isn't available on Linux"); return;
    case Cmd::Osa: got_unsupported(m.id, "AppleScript is macOS-only"); return;
    case Cmd::Record:
      got_unsupported(m.id,
                      "screen recording isn't supported on Linux yet (would need the "
                      "ScreenCast portal)");
      return;
    case Cmd::WinCtrl:
      got_unsupported(m.id, "moving other apps' windows isn't supported on Linux");
      return;
    case Cmd::AiAvailable: send_got(m.rest, "{\"status\":\"unsupported\"}"); return;
    case Cmd::AiGenerate: {
      std::string_view id = m.rest.substr(0, m.rest.find(' '));
      id = id.substr(0, id.find('\t'));
      send_got(id, "{\"ok\":false,\"error\":\"not built in\"}");
      return;
    }
    case Cmd::PermChk:
    case Cmd::PermReq: do_perm(m.id, m.rest); return;
    case Cmd::ClipWrite: do_clipwrite(m.rest); return;
    case Cmd::ClipWatch: do_clipwatch(m.rest); return;
    case Cmd::Notify: do_notify(m.rest); return;
    case Cmd::Power: do_power(m.id, m.rest); return;
    case Cmd::Badge: do_badge(m.rest); return;
    case Cmd::Progress: do_progress(m.rest); return;
    case Cmd::Attention: do_attention(); return;
    case Cmd::AppIcon: do_appicon(m.rest); return;
    case Cmd::Find: do_find_line(m.rest); return;
    case Cmd::StopFind: do_stopfind(m.rest); return;
    case Cmd::Print: do_print(m.win); return;
    case Cmd::Pdf: do_pdf(m.id, m.rest, "main"); return;
    case Cmd::PdfAt: do_pdf_at(m.rest); return;
    case Cmd::Cookies: do_cookies(m.id, m.rest); return;
    case Cmd::Auth: send_got(m.id, "{\"ok\":false}"); return;
    case Cmd::Secret: do_secret(m.id, m.rest); return;
    case Cmd::Shell: do_shell(m.id, m.rest); return;
    case Cmd::Login: do_login(m.id, m.rest); return;
    case Cmd::Capture: do_capture(m.id); return;
    case Cmd::PickColor: do_pickcolor(m.id); return;
    case Cmd::Thumb: do_thumb(m.id, m.rest); return;
    case Cmd::Spotlight: do_spotlight(m.id, m.rest); return;
    case Cmd::Keystroke:
      send_got(m.id, do_keystroke(m.rest) ? "{\"ok\":true,\"trusted\":true}"
                                          : "{\"ok\":false,\"trusted\":false}");
      return;
    case Cmd::HkReg: do_hkreg(m.rest); return;
    case Cmd::HkUnreg: do_hkunreg(m.rest); return;
    case Cmd::MouseTrack: mt_start(m.id, m.rest); return;
    case Cmd::MouseTrackStop: do_mousetrack_stop(); return;

    case Cmd::AudioTap: do_audiotap(m.id, m.rest); return;
    case Cmd::AudioTapStop: tap_stop(); return;
    case Cmd::Sound: do_sound(m.id, m.rest); return;
    case Cmd::Say: do_say(m.id, m.rest); return;
    case Cmd::SayStop: do_saystop(); return;
    case Cmd::Voices: do_voices(m.id); return;
    // The keyword, one separator character, then the payload.
    case Cmd::NowPlaying: do_nowplaying(m.rest.size() > 1 ? m.rest.substr(1) : ""); return;

    case Cmd::Dlg: do_dlg(m.rest); return;
    case Cmd::NavR: do_navr(m.rest); return;
    case Cmd::PopupR: do_popupr(m.rest); return;

    case Cmd::Sampler: do_sampler_line(m.rest); return;
    case Cmd::AudioFilters: do_audio_filters(m.rest); return;
    case Cmd::AudioFilterSet: do_audio_filter_set(m.rest); return;
    case Cmd::AudioBalance: do_audio_balance(m.rest); return;

    // Fire-and-forget commands of features that are not part of this build.
    default: return;
  }
}
