// Where a pipe lives on POSIX: a Unix-domain stream socket in a folder that
// only its user can enter. The client and the bundled terminal both use these
// so that they can never disagree on the place or on the rules.
#pragma once

#include <cstddef>

// "/tmp/zrv-<uid>", uid the decimal real user id.
bool posix_socket_folder(char* out, size_t size);
// The socket of a pipe name "\\.\pipe\<rest>": "<folder>/<rest>". False when
// the name has another form or the path would not fit a socket address.
bool posix_socket_path(const char16_t* pipe_name, char* out, size_t size);

enum SocketFolderState { kSocketFolderPrivate, kSocketFolderMissing, kSocketFolderRefused };
// Private means: a real folder (not a symbolic link), owned by this user,
// with no group or other access. A refusal comes with its reason.
SocketFolderState posix_check_socket_folder(const char* folder, char* reason, size_t size);
// Creates the folder with mode 0700 when it is missing, then checks it.
SocketFolderState posix_make_socket_folder(const char* folder, char* reason, size_t size);

// Whether the process at the other end of a connected socket runs as this
// user.
bool posix_peer_is_this_user(int fd);
