// The ten digest classes. A class reference is HashClassOf<TKC_md5>: it
// answers GetId, GetAlgorithm, GetHashSize and SelfTest and makes fresh
// instances with Create().
//
// Includes name paths below this header's folder as installed
// (include/kestrune/); in the source tree the compiler finds them through
// the project's root on the include path.
#pragma once

#include "framework/KCcrypt.h"
#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"
