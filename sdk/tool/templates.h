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

extern const char* const kTplCppJson;
extern const char* const kTplCppMain;
extern const char* const kTplCppMakefile;

extern const char* const kTplPythonJson;
extern const char* const kTplPythonMain;

extern const char* const kTplNodeJson;
extern const char* const kTplNodeMain;
extern const char* const kTplNodePackage;

}  // namespace tool
