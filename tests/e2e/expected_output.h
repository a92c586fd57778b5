#pragma once

// Expected console texts and file pieces for the end-to-end tests, written out by hand as the
// Windows-1252 bytes the tool must print ("\xE0" is a-grave, "\xE9" e-acute, "\xF3" o-acute).
// Nothing here comes from the tool's own sources: a typo on either side fails a test.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "support/workspace.h"

namespace velador::testing::expected {

// The key most tests use; its dump shows one-digit values (0, f) and two-digit ones.
inline const Bytes kKey("\x00\x0f\x10\xab\x2b\x7e\x15\x16\x28\xae\xd2\xa6\xab\xf7\x15\x88", 16);
inline const Bytes kOtherKey = "fedcba9876543210";
inline const std::string kTablePath = "img/AACS/CONTENT_HASH_TABLE2.AACS";

inline Bytes FromHex(std::string_view hex) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  return bytes;
}

inline std::string Blanks(std::size_t count) { return std::string(count, ' '); }

// Each byte in lower-case hexadecimal without leading zeros, followed by one blank.
inline std::string HexValues(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    if (b >= 16) text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

// Sixteen bytes as two lines of eight values, each preceded by a line end and `indent` blanks.
inline std::string Dump(const Bytes& sixteen, std::size_t indent) {
  std::string text("\n");
  text.append(Blanks(indent)).append(HexValues(sixteen.substr(0, 8))).append("\n");
  return text.append(Blanks(indent)).append(HexValues(sixteen.substr(8, 8)));
}

// One line end, each line followed by a line end, then three more line ends.
inline std::string ErrorBlock(std::initializer_list<std::string_view> lines) {
  std::string text = "\n";
  for (std::string_view line : lines) text.append(line).append("\n");
  return text + "\n\n\n";
}

// The text of expected/`name`.txt with each {placeholder} replaced by its value. A missing file,
// a placeholder without a value or a value without a placeholder fails the test.
std::string Expected(
    std::string_view name,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values = {});

// ---- Refusals ---------------------------------------------------------------------------

inline const std::string kTwoWordLine =
    "ERROR: Primer parametre incorrecte, ha de ser -d o -p (ajuda: velador /?)\n";
inline const std::string kFirstWord =
    ErrorBlock({"   ERROR: Primer parametre incorrecte, ha de ser -e o -d (ajuda: velador /?)"});
inline const std::string kSecondWord =
    ErrorBlock({"   ERROR: Segon parametre incorrecte, ha de ser -d o -p (ajuda: velador /?)"});
inline const std::string kKeyFile =
    ErrorBlock({"   ERROR:   No s'ha pogut obrir el fitxer on es troba la clau per xifrar"});
inline const std::string kPathTooLong = ErrorBlock(
    {"   ERROR:   La ruta \xE9s massa llarga: com a m\xE0xim pot tenir 271 car\xE0"
     "cters."});
inline const std::string kInputNotFound =
    ErrorBlock({"   ERROR:   No s'ha trobat el fitxer d'entrada."});
inline const std::string kAlreadyContainer =
    ErrorBlock({"   ERROR:   El fitxer d'entrada ja correspon a un fitxer AACS."});
inline const std::string kNotContainer =
    ErrorBlock({"   ERROR:   El fitxer d'entrada no correspon a un fitxer AACS."});
// Framed differently from every other message: one line end before, two after.
inline const std::string kUnknownType =
    "\n   ERROR:   El tipus d'encapsulaci\xF3 i xifrat no correspon a un fitxer AACS v\xE0lid.\n\n";
inline const std::string kTooLarge = ErrorBlock(
    {"   ERROR:   El fitxer d'entrada \xE9s massa gran: com a m\xE0xim pot tenir 4294967295 "
     "bytes."});
inline const std::string kTooShort = ErrorBlock(
    {"   ERROR:   El fitxer d'entrada \xE9s massa curt per ser un fitxer AACS v\xE0lid."});
inline const std::string kNameTooLong = ErrorBlock(
    {"   ERROR:   El nom del fitxer \xE9s massa llarg: com a m\xE0xim pot tenir 267 car\xE0"
     "cters."});
inline const std::string kSameFile =
    ErrorBlock({"   ERROR:   La ruta del fitxer d'entrada coincideix amb el de sortida.",
                "            Esculli una ruta diferent per deixar el fitxer de sortida."});
inline const std::string kNoDiscFolder =
    ErrorBlock({"   ERROR:   No s'ha trobat la carpeta ADV_OBJ dins de la ruta de sortida",
                "            comprovi que existeix i que s'hi pot escriure."});
inline const std::string kNoOutputFolder =
    ErrorBlock({"   ERROR:   No es pot trobar la ruta de sortida indicada,",
                "            comprovi que existeix i que s'hi pot escriure."});
inline std::string NoTable(std::string_view tablePath) {
  return "\n   ERROR:           No s'ha trobat la taula de hash num 2 i"
         "\n                    per tant no es pot encapsular el fitxer "
         "\n                    * Ruta esperada de la taula: "
         "\n" + Blanks(22) + std::string(tablePath) + "\n\n\n\n";
}
inline const std::string kFullTable = "Error: Taula de hash num 2 plena\n";
inline const std::string kUnusableTable =
    "Error: No s'ha pogut actualitzar la taula de hash num 2\n";

// ---- Help: 42 line ends, the first making an empty line 1, the last ending empty line 42 --

inline std::string Help() {
  const std::string lines[] = {
      "",
      "   AJUDA:",
      "",
      "",
      "   Aquest programa s'executa des de linia de comandes amb la sintaxi:",
      "",
      "",
      "   PER ENCAPSULAR I XIFRAR UN FITXER:",
      "",
      "   c:/velador -e -d/-p ruta_entrada ruta_sortida [ruta_fitxer_amb_clau]",
      "",
      "   -d/-p: -d per des/encapsular un fitxer que va un disc AACS",
      Blanks(10) + "-p per des/encapsular un fitxer que va un emmagatzematge persistent",
      "",
      "   PER DESENCAPSULAR I DESXIFRAR UN FITXER AACS:",
      "",
      "   c:/velador -d ruta_entrada ruta_sortida ruta_fitxer_amb_clau",
      "",
      "",
      "   ruta_entrada: Ruta completa del fitxer a encapsular o desencapsular",
      "",
      Blanks(17) + "NOTA: Si estem desencapsulant fitxers per a un disc AACS,",
      Blanks(23) + "aquesta ruta ha de tenir, al mateix nivell que la ",
      Blanks(23) + "carpeta que inclou el fitxer protegit, la carpeta:",
      Blanks(24) + "-AACS: on ha d'estar el fitxer de la taula de",
      Blanks(31) + "hash num 2: CONTENT_HASH_TABLE2.AACS ",
      "",
      "   ruta_sortida: Ruta completa on es deixa el fitxer encapsulat o desencapsulat",
      "",
      Blanks(17) + "NOTA: Si estem encapsulant fitxers per a un disc AACS, aquesta",
      Blanks(23) + "ruta ha de tenir a dins, com a minim, les carpetes:",
      Blanks(24) + "-AACS: on ha d'estar el fitxer de la taula de",
      Blanks(31) + "hash num 2: CONTENT_HASH_TABLE2.AACS ",
      Blanks(24) + "-ADV_OBJ: on es deixar\xE0 el fitxer AACS encapsulat. ",
      "",
      "   ruta_fitxer_amb_clau: Ruta on hi ha el fitxer que inclou la clau que es",
      Blanks(25) + "fa servir per xifrar i desxifrar, la clau la formen",
      Blanks(25) + "els primers 8 bytes d'aquest fitxer.",
      Blanks(25) + "Aquest parametre no cal posar-lo per protegir i",
      Blanks(25) + "desprotegir fitxers xml que van un disc AACS",
      Blanks(25) + "(el programa mostra la clau en hexadecimal)",
      "",
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// ---- Operation reports ------------------------------------------------------------------

// Printed when the operation is set up; no line end follows.
inline std::string ResultPath(std::string_view path) {
  return "\n   * Ruta del fitxer resultant: " + std::string(path);
}

inline const std::string kAnnounceEncryption = "\n   Encapsulant i xifrant per encryption...\n";
inline const std::string kAnnounceEncryptionHash =
    "\n   Encapsulant i xifrant per encryption i hash...\n";
inline const std::string kAnnounceMac = "\n   Encapsulant per MAC...\n";
inline const std::string kAnnounceHash = "\n   Encapsulant per Hash...\n";
inline const std::string kAnnounceNonProtected = "\n   Encapsulant per Non-Protected...\n";
inline const std::string kAnnounceDecapsulateHash = "\n   Desencapsulant per hash\n";
inline const std::string kEncapsulated =
    "\n   ENCAPSULACIO: El fitxer s'ha encapsulat correctament";
inline const std::string kDecapsulated =
    "\n   DESENCAPSULACIO: El fitxer s'ha desencapsulat correctament\n";

inline std::string Matches(bool yes) { return yes ? "COINCIDEIX" : "NO COINCIDEIX"; }

inline std::string NameVerdict(std::size_t indent, bool nameMatches) {
  return Blanks(indent) + "El nom del fitxer emmagatzemat al fitxer a desencapsular\n" +
         Blanks(indent) + Matches(nameMatches) + " amb el nom del fitxer real.";
}

inline std::string PlayerVerdict(std::size_t indent, bool accepts) {
  return Blanks(indent) + "(Un reproductor AACS " + (accepts ? "acceptaria" : "descartaria") +
         " aquest fitxer)";
}

// The name verdict of the two types that encipher the name block.
inline std::string EncipheredNameVerdict(bool nameMatches) {
  return "\n   VALIDACIO:       El nom del fitxer xifrat i emmagatzemat al fitxer\n" +
         Blanks(20) + "a desencapsular " + Matches(nameMatches) + " amb el nom del fitxer real.\n" +
         PlayerVerdict(20, nameMatches) + "\n\n\n\n";
}

inline std::string NonProtectedEncapsulation(std::string_view result, const Bytes& key) {
  return ResultPath(result) + kAnnounceNonProtected + kEncapsulated +
         "\n   XIFRAT:       El nom del fitxer AACS s'ha xifrat correctament amb la clau:" +
         Dump(key, 17) + "\n\n\n\n";
}

inline std::string NonProtectedDecapsulation(std::string_view result, bool nameMatches) {
  return ResultPath(result) + "\n   Desencapsulant per Non-Protected...\n" + kDecapsulated +
         EncipheredNameVerdict(nameMatches);
}

inline std::string EncryptionEncapsulation(std::string_view result, const Bytes& key) {
  return ResultPath(result) + kAnnounceEncryption + kEncapsulated +
         "\n   XIFRAT:       El fitxer s'ha xifrat correctament amb la clau:" + Dump(key, 17) +
         "\n\n\n\n";
}

inline std::string EncryptionDecapsulation(std::string_view result, const Bytes& key,
                                           bool nameMatches) {
  return ResultPath(result) + "\n   Desencapsulant i desxifrant per encryption...\n" +
         kDecapsulated +
         "\n   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau" +
         Dump(key, 20) + "\n" + EncipheredNameVerdict(nameMatches) + "\n\n\n\n";
}

inline std::string MacEncapsulation(std::string_view result, const Bytes& mac) {
  return ResultPath(result) + kAnnounceMac + kEncapsulated +
         "\n                 * MAC obtinguda: \n" + Dump(mac, 18) + "\n\n\n\n";
}

inline std::string MacDecapsulation(std::string_view result, bool macMatches, bool nameMatches) {
  return ResultPath(result) + "\n   Desencapsulant per MAC...\n" + kDecapsulated +
         "\n   VALIDACIO: La MAC emmagatzemada al fitxer a desencapsular " + Matches(macMatches) +
         " \n              amb la generadada a partir del fitxer desencapsulat.\n\n" +
         NameVerdict(14, nameMatches) + "\n\n" + PlayerVerdict(14, macMatches && nameMatches) +
         "\n\n\n\n";
}

// `tableMessages` is what the table work prints, right after the announcement.
inline std::string HashEncapsulation(std::string_view result, const Bytes& digestTail,
                                     const std::string& tableMessages = "") {
  return ResultPath(result) + kAnnounceHash + tableMessages + kEncapsulated +
         "\n                 * Hash obtingut: " + HexValues(digestTail) + "\n\n\n\n";
}

inline std::string HashDecapsulation(std::string_view result, bool hashMatches,
                                     bool nameMatches) {
  return ResultPath(result) + kAnnounceDecapsulateHash + kDecapsulated +
         "\n   VALIDACIO: El HASH del fitxer a desencapsular emmagatzemat a la taula \n"
         "              de hash num 2 " +
         Matches(hashMatches) + " amb el generat a partir del \n              fitxer "
         "desencapsulat.\n\n" + NameVerdict(14, nameMatches) + "\n\n" +
         PlayerVerdict(14, hashMatches && nameMatches) + "\n\n\n\n";
}

inline std::string HashDecapsulationWithoutTable(std::string_view result,
                                                 std::string_view tablePath) {
  return ResultPath(result) + kAnnounceDecapsulateHash +
         "\n   Fitxer desencapsulat correctament\n"
         "\n   VALIDACIO: No s'ha trobat la taula de hash num 2 i \n"
         "              per tant no es pot validar el fitxer\n"
         "\n              ruta esperada: " + std::string(tablePath) + "\n\n\n\n";
}

inline std::string EncryptionHashEncapsulation(std::string_view result, const Bytes& lastTail,
                                               const Bytes& key,
                                               const std::string& tableMessages = "") {
  return ResultPath(result) + kAnnounceEncryptionHash + tableMessages + kEncapsulated +
         "\n                 * Hash obtingut: " + HexValues(lastTail) + "\n" +
         "\n   XIFRAT:       El fitxer s'ha xifrat correctament amb la clau:" + Dump(key, 17) +
         "\n\n\n\n";
}

inline std::string EncryptionHashDecapsulationHead(std::string_view result, const Bytes& key) {
  return ResultPath(result) + "\n   Desencapsulant i desxifrant per encryption and hash...\n" +
         kDecapsulated +
         "\n   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau:" +
         Dump(key, 20) + "\n";
}

// `unitsChecked` < 0 stands for the mismatching hash group.
inline std::string EncryptionHashDecapsulation(std::string_view result, const Bytes& key,
                                               int unitsChecked, bool nameMatches) {
  const bool hashesMatch = unitsChecked >= 0;
  const std::string group =
      hashesMatch ? "\n   VALIDACIO:       Els hashs de la taula de hash num 2 COINCIDEIXEN"
                    "\n                    amb el/s " + std::to_string(unitsChecked) +
                        " bloc/s comprovat/s aleatoriament.\n"
                  : "\n   VALIDACIO:       Un o diversos hashs de taula de hash num 2 NO "
                    "COINCIDEIXEN\n                    amb els blocs comprovats aleatoriament.\n";
  return EncryptionHashDecapsulationHead(result, key) + group + PlayerVerdict(20, hashesMatch) +
         "\n\n" + NameVerdict(20, nameMatches) + "\n\n" +
         PlayerVerdict(20, hashesMatch && nameMatches) + "\n\n\n\n\n\n\n\n";
}

inline std::string EncryptionHashDecapsulationWithoutTable(std::string_view result,
                                                           const Bytes& key,
                                                           std::string_view tablePath) {
  return EncryptionHashDecapsulationHead(result, key) +
         "\n   VALIDACIO:       No s'ha trobat la taula de hash num 2 i"
         "\n                    per tant no es pot validar el fitxer "
         "\n                    (s'ha desencapsulat sense validar-lo)\n"
         "\n                    * ruta esperada de la taula: "
         "\n                      " + std::string(tablePath) + "\n\n\n\n\n\n\n\n";
}

// ---- File pieces ------------------------------------------------------------------------

inline Bytes Number(std::uint32_t value) {
  Bytes n;
  for (int shift = 24; shift >= 0; shift -= 8) n += static_cast<char>(value >> shift);
  return n;
}

// Magic, type code, a zero byte, the key flag (0 for Hash only) and the content size.
inline Bytes Header(std::uint8_t typeCode, std::uint32_t size) {
  return "AACS" + Bytes{static_cast<char>(typeCode), '\0', typeCode == 0x12 ? '\0' : '\x01'} +
         Number(size);
}

inline Bytes NameBlock(const std::string& name) {
  Bytes block = name + ".AACS";
  block.resize(272, '\0');
  return block;
}

// No temporary file of the tool's, nor one of the old fixed names, is left anywhere.
inline void ExpectNoLeftovers(const Workspace& w) {
  for (const std::string& entry : w.List()) {
    const std::string name = entry.substr(entry.find_last_of('/') + 1);
    EXPECT_NE(name.rfind(".velador-", 0), 0u) << entry;
    EXPECT_NE(name, "temp_aacs.tmp");
    EXPECT_NE(name, "temp_hash_aacs.tmp");
  }
}

}  // namespace velador::testing::expected
