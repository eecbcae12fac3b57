// Dialog fields and download names come from the backend and from web
// servers: the text rules never crash, never grow text where they should
// not, and never pick a name that is taken.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "content/content_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);

  if (dialog_detail_text(in).size() > in.size()) std::abort();

  ExtFilter f = ext_filter_for(in);
  for (const std::string& p : f.patterns)
    if (p.size() < 3 || p.compare(0, 2, "*.") != 0) std::abort();
  if (f.name.empty() != f.patterns.empty() || f.default_ext.empty() != f.patterns.empty())
    std::abort();

  std::string path = with_default_ext("/d/" + in, f.default_ext);
  if (path.compare(0, 3 + in.size(), "/d/" + in) != 0) std::abort();

  std::string scheme = uri_scheme(in);
  if (scheme.size() > in.size()) std::abort();

  // The suggested name and every numbered form up to a count taken from the
  // input are taken; the choice must be none of them.
  std::string name = download_base_name(in, in);
  std::set<std::string> taken;
  unsigned n = size ? data[0] % 8 : 0;
  std::string cur = name;
  for (unsigned i = 0; i <= n; ++i) {
    taken.insert(cur);
    cur = free_download_name(name, [&](const std::string& c) { return taken.count(c) > 0; });
  }
  if (taken.count(cur)) std::abort();
  return 0;
}
