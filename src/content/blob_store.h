// The files behind the bytes path, shared by the "ovalis-blob" scheme and
// the web-process extension's messages: launcher's private upload
// directory, and the offers the backend made with "BLOB <id> <mode> <path>".
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

constexpr guint64 kBlobMaxUpload = guint64(1) << 30;
// Uploads still in the directory (the backend removes what it has read).
constexpr int kBlobMaxWaiting = 256;

// 1 to 64 characters of A-Z a-z 0-9 _ -.
bool blob_valid_id(std::string_view id);

// The private upload directory, made (mode 0700) on first use; "" when it
// cannot be made.
const std::string& blob_dir();

// Makes a new upload file (mode 0600) for `size` bytes. The open descriptor
// and its id and path, or -1 with the reason in *error (and *status the
// HTTP status that fits it).
int blob_create_upload(guint64 size, std::string* id, std::string* path, std::string* error,
                       int* status);

// Tells the backend that an upload is complete, and which document's origin
// made it, so that it can drop one it would never take. It comes before the
// page can name the id in a call.
void blob_announce(const std::string& id, guint64 size, const std::string& path,
                   const std::string& origin);

// Takes an offer out of the table: its descriptor (the caller's to close)
// and size, or -1 when there is no such offer (never made, taken already,
// or expired).
int blob_take_offer(std::string_view id, guint64* size);
