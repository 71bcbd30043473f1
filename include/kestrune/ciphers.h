// The twenty cipher classes. A class reference is CipherClassOf<TKC_rijndael>:
// it answers GetId, GetAlgorithm, GetMaxKeySize, GetBlockSize and SelfTest
// and makes fresh instances with Create(); the block ciphers' instances are
// TKC_blockcipher, with the chaining modes.
//
// Includes name paths below this header's folder as installed
// (include/kestrune/); in the source tree the compiler finds them through
// the project's root on the include path.
#pragma once

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCice.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc4.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCxtea.h"
#include "framework/KCblockciphers.h"
#include "framework/KCcrypt.h"
