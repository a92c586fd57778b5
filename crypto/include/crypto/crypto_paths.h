#pragma once

// Which code this process's AES and SHA-1 run on, for a program to report. Every path gives the
// same results; they differ in speed only. The choice is made once per process, from what the
// processor offers.

namespace velador {

enum class AesPath {
  kPortable,  // the portable code
  kAesNi,     // x86-64 AES-NI
  kVaes,      // x86-64 AES-NI, with VAES on 256-bit registers where blocks are independent
  kArmv8,     // the ARMv8 cryptography extension
};

enum class Sha1Path {
  kPortable,  // the portable code
  kShaNi,     // x86-64 SHA-NI
  kArmv8,     // the ARMv8 cryptography extension
};

struct CryptoPaths {
  AesPath aes;  // of AES-128 (16-byte key and block); other key and block sizes are portable
  Sha1Path sha1;
};

// The paths an AesCipher keyed now and a Sha1Hasher reset now take.
CryptoPaths ChosenCryptoPaths();

}  // namespace velador
