// The Python and JavaScript backends of a new application.
#include "templates.h"

namespace tool {

const char* const kTplPythonJson = nullptr;
const char* const kTplPythonMain = nullptr;
const char* const kTplNodeJson = nullptr;
const char* const kTplNodeMain = nullptr;
const char* const kTplNodePackage = nullptr;

}  // namespace tool
