// Small owning holders for GLib/GObject memory, so no code path has to
// remember a bare unref or g_free.
#pragma once

#include <glib-object.h>

#include <memory>

template <class T>
struct GObjectUnref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};

// Owns one reference to a GObject.
template <class T>
using GObj = std::unique_ptr<T, GObjectUnref<T>>;

// Takes an extra reference and owns it.
template <class T>
GObj<T> gobj_ref(T* p) {
  if (p) g_object_ref(p);
  return GObj<T>(p);
}

struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};

// Owns a g_malloc'd string.
using GChars = std::unique_ptr<char, GFreeDeleter>;

struct GErrorFree {
  void operator()(GError* e) const {
    if (e) g_error_free(e);
  }
};
using GErr = std::unique_ptr<GError, GErrorFree>;

struct GVariantUnref {
  void operator()(GVariant* v) const {
    if (v) g_variant_unref(v);
  }
};
using GVar = std::unique_ptr<GVariant, GVariantUnref>;
