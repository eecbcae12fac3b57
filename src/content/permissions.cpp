// Permission decisions: camera and microphone by the declared media features
// and the origin trust rules, and the backend's permission questions.
#include <cstdlib>
#include <cstring>

#include "content/content.h"
#include "core/dispatch.h"
#include "webview/webview.h"

gboolean on_permission_request(WebKitWebView* view, WebKitPermissionRequest* req, gpointer) {
  const char* env = std::getenv("OVALIS_MEDIA");
  const char* features = env ? env : "";
  bool want_camera = std::strstr(features, "camera") != nullptr;
  bool want_mic = std::strstr(features, "microphone") != nullptr;
  // The committed document decides: a load that has only started does not.
  std::string origin = committed_origin(view);

  if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(req)) {
    auto* um = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(req);
    // Screen sharing is never granted silently.
    if (webkit_user_media_permission_is_for_display_device(um)) {
      webkit_permission_request_deny(req);
      return TRUE;
    }
    bool camera_ok = !webkit_user_media_permission_is_for_video_device(um) ||
                     (want_camera && media_trusted("camera", origin));
    bool mic_ok = !webkit_user_media_permission_is_for_audio_device(um) ||
                  (want_mic && media_trusted("microphone", origin));
    if (camera_ok && mic_ok)
      webkit_permission_request_allow(req);
    else
      webkit_permission_request_deny(req);
    return TRUE;
  }
  if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(req)) {
    if ((want_camera && media_trusted("camera", origin)) ||
        (want_mic && media_trusted("microphone", origin)))
      webkit_permission_request_allow(req);
    else
      webkit_permission_request_deny(req);
    return TRUE;
  }
  return FALSE;
}

void permissions_setup_view(WebKitWebView* view) {
  g_signal_connect(view, "permission-request", G_CALLBACK(on_permission_request), nullptr);
}

void do_perm(std::string_view id, std::string_view name) {
  bool known = name == "accessibility" || name == "screen" || name == "notifications" ||
               name == "microphone" || name == "camera";
  send_got(id, known ? "{\"status\":\"granted\"}" : "{\"status\":\"unsupported\"}");
}
