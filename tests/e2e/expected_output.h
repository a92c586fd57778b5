#pragma once

// Expected console texts for the end-to-end tests, written out by hand as the Windows-1252
// bytes the tool must print ("\xE0" is a-grave, "\xE9" e-acute, "\xF3" o-acute). Nothing here
// comes from the tool's own sources: a typo on either side shows up as a failing test.

#include <initializer_list>
#include <string>
#include <string_view>

#include "support/workspace.h"

namespace velador::testing::expected {

inline std::string Blanks(std::size_t count) { return std::string(count, ' '); }

// One line end, each line followed by a line end, then three more line ends.
inline std::string ErrorBlock(std::initializer_list<std::string_view> lines) {
  std::string text = "\n";
  for (std::string_view line : lines) {
    text += line;
    text += '\n';
  }
  return text + "\n\n\n";
}

// Command line.
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

// Input classification.
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

// Output location.
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

// The help: 42 line ends in all, the first making an empty line 1, the last ending the empty
// line 42.
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

// Printed when the encapsulator is built; no line end follows.
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

// A Non-Protected encapsulation after the result path. `firstHalf` and `secondHalf` are the
// two dump lines as the tool must print them, e.g. "30 31 32 33 34 35 36 37 ".
inline std::string NonProtectedEncapsulated(std::string_view firstHalf,
                                            std::string_view secondHalf) {
  return kAnnounceNonProtected +
         "\n   ENCAPSULACIO: El fitxer s'ha encapsulat correctament"
         "\n   XIFRAT:       El nom del fitxer AACS s'ha xifrat correctament amb la clau:"
         "\n" + Blanks(17) + std::string(firstHalf) +
         "\n" + Blanks(17) + std::string(secondHalf) + "\n\n\n\n";
}

inline std::string NonProtectedDecapsulated(bool nameMatches) {
  return std::string("\n   Desencapsulant per Non-Protected...\n") +
         "\n   DESENCAPSULACIO: El fitxer s'ha desencapsulat correctament\n" +
         "\n   VALIDACIO:       El nom del fitxer xifrat i emmagatzemat al fitxer\n" +
         Blanks(20) + "a desencapsular " + (nameMatches ? "COINCIDEIX" : "NO COINCIDEIX") +
         " amb el nom del fitxer real.\n" + Blanks(20) + "(Un reproductor AACS " +
         (nameMatches ? "acceptaria" : "descartaria") + " aquest fitxer)\n\n\n\n";
}

// Bytes from a hexadecimal string.
inline Bytes FromHex(std::string_view hex) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  return bytes;
}

}  // namespace velador::testing::expected
