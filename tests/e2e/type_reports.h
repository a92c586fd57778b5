#pragma once

// Expected console texts of the container types, written out by hand, and small helpers the
// type tests share. Every line end is a single "\n"; texts are Windows-1252 bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/workspace.h"

namespace velador::testing::reports {

// The key every type test uses; its dump shows one-digit values (0, f) and two-digit ones.
inline const Bytes kKey("\x00\x0f\x10\xab\x2b\x7e\x15\x16\x28\xae\xd2\xa6\xab\xf7\x15\x88", 16);
inline const Bytes kOtherKey("fedcba9876543210", 16);

inline Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline Bytes Blanks(int count) { return Bytes(static_cast<std::size_t>(count), ' '); }

// Each byte in lower-case hexadecimal without leading zeros, followed by one blank.
inline Bytes HexValues(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  Bytes text;
  for (unsigned char b : bytes) {
    if (b >= 16) text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
    text.push_back(' ');
  }
  return text;
}

// Sixteen bytes as two lines of eight values, each line preceded by a line end and `indent`
// blanks.
inline Bytes Dump(const Bytes& sixteen, int indent) {
  Bytes text("\n");
  text.append(Blanks(indent)).append(HexValues(sixteen.substr(0, 8)));
  text.append("\n").append(Blanks(indent)).append(HexValues(sixteen.substr(8, 8)));
  return text;
}

inline Bytes ResultPath(const std::string& path) {
  return "\n   * Ruta del fitxer resultant: " + path;
}

inline const Bytes kEncapsulated = "\n   ENCAPSULACIO: El fitxer s'ha encapsulat correctament";
inline const Bytes kDecapsulated =
    "\n   DESENCAPSULACIO: El fitxer s'ha desencapsulat correctament\n";
inline const Bytes kFullTable = "Error: Taula de hash num 2 plena\n";
inline const Bytes kUnusableTable = "Error: No s'ha pogut actualitzar la taula de hash num 2\n";
inline const Bytes kTooShort =
    "\n   ERROR:   El fitxer d'entrada \xE9s massa curt per ser un fitxer AACS v\xE0lid.\n\n\n\n";

// ---- Encryption -------------------------------------------------------------------------

inline Bytes EncryptionEncapsulation(const std::string& resultPath, const Bytes& key) {
  return ResultPath(resultPath) + "\n   Encapsulant i xifrant per encryption...\n" + kEncapsulated +
         "\n   XIFRAT:       El fitxer s'ha xifrat correctament amb la clau:" + Dump(key, 17) +
         "\n\n\n\n";
}

inline Bytes EncryptionDecapsulation(const std::string& resultPath, const Bytes& key,
                                     bool nameMatches) {
  return ResultPath(resultPath) + "\n   Desencapsulant i desxifrant per encryption...\n" +
         kDecapsulated +
         "\n   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau" +
         Dump(key, 20) + "\n" +
         "\n   VALIDACIO:       El nom del fitxer xifrat i emmagatzemat al fitxer\n"
         "                    a desencapsular " +
         (nameMatches ? "COINCIDEIX" : "NO COINCIDEIX") + " amb el nom del fitxer real.\n" +
         "                    (Un reproductor AACS " + (nameMatches ? "acceptaria" : "descartaria") +
         " aquest fitxer)\n\n\n\n\n\n\n\n";
}

// ---- MAC --------------------------------------------------------------------------------

inline Bytes MacEncapsulation(const std::string& resultPath, const Bytes& mac) {
  return ResultPath(resultPath) + "\n   Encapsulant per MAC...\n" + kEncapsulated +
         "\n                 * MAC obtinguda: \n" + Dump(mac, 18) + "\n\n\n\n";
}

inline Bytes NameVerdict(int indent, bool nameMatches) {
  return Blanks(indent) + "El nom del fitxer emmagatzemat al fitxer a desencapsular\n" +
         Blanks(indent) + (nameMatches ? "COINCIDEIX" : "NO COINCIDEIX") +
         " amb el nom del fitxer real.";
}

inline Bytes PlayerVerdict(int indent, bool accepts) {
  return Blanks(indent) + "(Un reproductor AACS " + (accepts ? "acceptaria" : "descartaria") +
         " aquest fitxer)";
}

inline Bytes MacDecapsulation(const std::string& resultPath, bool macMatches, bool nameMatches) {
  return ResultPath(resultPath) + "\n   Desencapsulant per MAC...\n" + kDecapsulated +
         "\n   VALIDACIO: La MAC emmagatzemada al fitxer a desencapsular " +
         (macMatches ? "COINCIDEIX" : "NO COINCIDEIX") +
         " \n              amb la generadada a partir del fitxer desencapsulat.\n" + "\n" +
         NameVerdict(14, nameMatches) + "\n" + "\n" +
         PlayerVerdict(14, macMatches && nameMatches) + "\n\n\n\n";
}

// ---- Hash -------------------------------------------------------------------------------

// `tableMessages` is what the table work prints, right after the announcement.
inline Bytes HashEncapsulation(const std::string& resultPath, const Bytes& digestTail,
                               const Bytes& tableMessages = "") {
  return ResultPath(resultPath) + "\n   Encapsulant per Hash...\n" + tableMessages + kEncapsulated +
         "\n                 * Hash obtingut: " + HexValues(digestTail) + "\n\n\n\n";
}

inline Bytes HashDecapsulation(const std::string& resultPath, bool hashMatches, bool nameMatches) {
  return ResultPath(resultPath) + "\n   Desencapsulant per hash\n" + kDecapsulated +
         "\n   VALIDACIO: El HASH del fitxer a desencapsular emmagatzemat a la taula \n"
         "              de hash num 2 " +
         (hashMatches ? "COINCIDEIX" : "NO COINCIDEIX") +
         " amb el generat a partir del \n              fitxer desencapsulat.\n" + "\n" +
         NameVerdict(14, nameMatches) + "\n" + "\n" +
         PlayerVerdict(14, hashMatches && nameMatches) + "\n\n\n\n";
}

inline Bytes HashDecapsulationWithoutTable(const std::string& resultPath,
                                           const std::string& tablePath) {
  return ResultPath(resultPath) + "\n   Desencapsulant per hash\n" +
         "\n   Fitxer desencapsulat correctament\n" +
         "\n   VALIDACIO: No s'ha trobat la taula de hash num 2 i \n"
         "              per tant no es pot validar el fitxer\n" +
         "\n              ruta esperada: " + tablePath + "\n\n\n\n";
}

// ---- Encryption-and-Hash ----------------------------------------------------------------

inline Bytes EncryptionHashEncapsulation(const std::string& resultPath, const Bytes& lastTail,
                                         const Bytes& key, const Bytes& tableMessages = "") {
  return ResultPath(resultPath) + "\n   Encapsulant i xifrant per encryption i hash...\n" +
         tableMessages + kEncapsulated + "\n                 * Hash obtingut: " +
         HexValues(lastTail) + "\n" +
         "\n   XIFRAT:       El fitxer s'ha xifrat correctament amb la clau:" + Dump(key, 17) +
         "\n\n\n\n";
}

inline Bytes EncryptionHashDecapsulationHead(const std::string& resultPath, const Bytes& key) {
  return ResultPath(resultPath) + "\n   Desencapsulant i desxifrant per encryption and hash...\n" +
         kDecapsulated +
         "\n   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau:" +
         Dump(key, 20) + "\n";
}

// `unitsChecked` < 0 stands for the mismatching hash group.
inline Bytes EncryptionHashDecapsulation(const std::string& resultPath, const Bytes& key,
                                         int unitsChecked, bool nameMatches) {
  const bool hashesMatch = unitsChecked >= 0;
  Bytes group =
      hashesMatch
          ? Bytes("\n   VALIDACIO:       Els hashs de la taula de hash num 2 COINCIDEIXEN"
                  "\n                    amb el/s ")
                    .append(std::to_string(unitsChecked)) +
                " bloc/s comprovat/s aleatoriament." +
                "\n" + PlayerVerdict(20, true) + "\n"
          : "\n   VALIDACIO:       Un o diversos hashs de taula de hash num 2 NO COINCIDEIXEN"
            "\n                    amb els blocs comprovats aleatoriament.\n" +
                PlayerVerdict(20, false) + "\n";
  return EncryptionHashDecapsulationHead(resultPath, key) + group + "\n" +
         NameVerdict(20, nameMatches) + "\n" + "\n" +
         PlayerVerdict(20, hashesMatch && nameMatches) + "\n\n\n\n" + "\n\n\n\n";
}

inline Bytes EncryptionHashDecapsulationWithoutTable(const std::string& resultPath,
                                                     const Bytes& key,
                                                     const std::string& tablePath) {
  return EncryptionHashDecapsulationHead(resultPath, key) +
         "\n   VALIDACIO:       No s'ha trobat la taula de hash num 2 i"
         "\n                    per tant no es pot validar el fitxer "
         "\n                    (s'ha desencapsulat sense validar-lo)\n"
         "\n                    * ruta esperada de la taula: "
         "\n                      " +
         tablePath + "\n\n\n\n" + "\n\n\n\n";
}

// ---- Files ------------------------------------------------------------------------------

inline Bytes Header(std::uint8_t typeCode, std::uint8_t keyFlag, std::uint32_t size) {
  Bytes h = "AACS";
  h.push_back(static_cast<char>(typeCode));
  h.push_back('\0');
  h.push_back(static_cast<char>(keyFlag));
  for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<char>(size >> shift));
  return h;
}

inline Bytes Number(std::uint32_t value) {
  Bytes n;
  for (int shift = 24; shift >= 0; shift -= 8) n.push_back(static_cast<char>(value >> shift));
  return n;
}

inline Bytes NameBlock(const std::string& name) {
  Bytes block = name + ".AACS";
  block.resize(272, '\0');
  return block;
}

// No temporary file of the tool's, nor one of the old fixed names, is left anywhere.
inline void ExpectNoLeftovers(const Workspace& w) {
  for (const std::string& entry : w.List()) {
    EXPECT_EQ(entry.find(".velador-"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("temp_aacs.tmp"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("temp_hash_aacs.tmp"), std::string::npos) << entry;
  }
}

inline Bytes Table(const Workspace& w, const std::string& image = "img") {
  return w.Read(image + "/AACS/CONTENT_HASH_TABLE2.AACS");
}

}  // namespace velador::testing::reports
