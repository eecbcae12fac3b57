// The keyword table: which command a backend line is, and the answer lines
// every request uses.
#pragma once

#include <string>
#include <string_view>

// One entry per row of the keyword table, in matching order.
enum class Cmd {
  None,
  Ret, Blob, EvalAll, Eval, Title, Size, Dlg, NavR, PopupR, Find, StopFind, Quit, Reload,
  Print, MenuBegin, MenuReset, MenuUpd, MenuUpdAt, TrayBegin, TrayRemove, CtxBegin,
  CtxClear, CtxSuppress, WinOp, Chrome, DragWin, ResizeWin, AudioFilters, AudioBalance,
  AudioFilterSet, WinOpen, WinClose, ClipWrite, ClipWatch, Get, Notify, Keystroke,
  PermChk, PermReq, Shell, Login, Power, Sound, Secret, Cookies, Capture, Pdf, PdfAt,
  Thumb, Auth, Say, SayStop, Voices, PickColor, Ocr, Osa, Spotlight, Record, WinCtrl,
  AiAvailable, AiGenerate, AudioTapStop, AudioTap, Sampler, MouseTrackStop, MouseTrack,
  NowPlaying, HkReg, HkUnreg, Attention, AppIcon, Badge, Progress,
};

// A matched line. Views point into the line that was matched.
struct CmdMatch {
  Cmd cmd = Cmd::None;
  std::string_view win;   // target form: window id ("main" without "@")
  std::string_view id;    // request form: request id
  std::string_view rest;  // argument text
};

// Pure keyword matching: the first table row that accepts the line.
CmdMatch match_command(std::string_view line);

// The keyword text of a command, for diagnostics and answers.
const char* cmd_keyword(Cmd c);

// GOT <id> <json>
void send_got(std::string_view id, std::string_view json);
// GOT <id> {"ok":false,"error":<message>}
void got_unsupported(std::string_view id, std::string_view message);
