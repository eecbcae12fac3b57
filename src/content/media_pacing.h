// A body stream for the media proxy that never runs more than a small window
// ahead of what the web view's web process has received.
#pragma once

#include <webkit2/webkit2.h>

// Wraps base (a new reference is taken); view is watched weakly. The caller
// owns the returned stream.
GInputStream* media_paced_stream_new(GInputStream* base, WebKitWebView* view);
