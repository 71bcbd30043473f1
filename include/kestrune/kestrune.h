// Everything a program needs to use the library: the public headers are
// this one and the ones it includes. Installed, they are
//   <kestrune/kestrune.h>                  all of the below
//   <kestrune/hashes.h>                    the digest classes (TKC_md5, ...)
//   <kestrune/ciphers.h>                   the cipher classes (TKC_rijndael, ...)
//   <kestrune/framework/KCcrypt.h>         TKC_hash, TKC_cipher, streams, exceptions
//   <kestrune/framework/KCblockciphers.h>  TKC_blockcipher and the chaining modes
//   <kestrune/framework/KCbase64.h>        the Base64 codec
//   <kestrune/framework/KCbytes.h>         byte spans and the wipe that stays
//   <kestrune/object/KCcatalogue.h>        the algorithm tables: classes by code
//   <kestrune/object/UKestrune.h>          the crypto object TKestrune
// together with the headers these include; no other header is installed.
//
// Includes name paths below this header's folder as installed
// (include/kestrune/); in the source tree the compiler finds them through
// the project's root on the include path.
#pragma once

#include "ciphers.h"
#include "framework/KCbase64.h"
#include "framework/KCblockciphers.h"
#include "framework/KCbytes.h"
#include "framework/KCcrypt.h"
#include "hashes.h"
#include "object/KCcatalogue.h"
#include "object/UKestrune.h"
