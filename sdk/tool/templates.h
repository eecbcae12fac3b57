// The files `ovalis new` writes (templates.cpp).
#pragma once

namespace tool {

extern const char* const kTplPageHtml;
extern const char* const kTplPageJs;
extern const char* const kTplPageCss;
extern const char* const kTplIcon;
extern const char* const kTplReadme;
extern const char* const kTplSmoke;
extern const char* const kTplGitignore;

extern const char* const kTplAppJson;
extern const char* const kTplCppBackend;
extern const char* const kTplCppMain;
extern const char* const kTplCppMakefile;

extern const char* const kTplPythonBackend;
extern const char* const kTplPythonMain;

extern const char* const kTplNodeBackend;
extern const char* const kTplNodeMain;
extern const char* const kTplNodePackage;

}  // namespace tool
