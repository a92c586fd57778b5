#pragma once

// Every text the front end prints, as Windows-1252 bytes (0xE0 is "à", 0xE9 "é", 0xF3 "ó").

#include <array>
#include <string_view>

namespace velador::messages {

using Text = std::string_view;

// Argument errors. The two-word form's line has no framing of its own.
inline constexpr Text kTwoWordError =
    "ERROR: Primer parametre incorrecte, ha de ser -d o -p (ajuda: velador /?)";
inline constexpr Text kFirstWordError =
    "   ERROR: Primer parametre incorrecte, ha de ser -e o -d (ajuda: velador /?)";
inline constexpr Text kSecondWordError =
    "   ERROR: Segon parametre incorrecte, ha de ser -d o -p (ajuda: velador /?)";
inline constexpr Text kKeyFileError =
    "   ERROR:   No s'ha pogut obrir el fitxer on es troba la clau per xifrar";
inline constexpr Text kPathTooLong =
    "   ERROR:   La ruta \xE9s massa llarga: com a m\xE0xim pot tenir 271 car\xE0"
    "cters.";

// Input classification.
inline constexpr Text kInputNotFound = "   ERROR:   No s'ha trobat el fitxer d'entrada.";
inline constexpr Text kAlreadyContainer =
    "   ERROR:   El fitxer d'entrada ja correspon a un fitxer AACS.";
inline constexpr Text kNotContainer =
    "   ERROR:   El fitxer d'entrada no correspon a un fitxer AACS.";
inline constexpr Text kUnknownType =
    "   ERROR:   El tipus d'encapsulaci\xF3 i xifrat no correspon a un fitxer AACS v\xE0lid.";
inline constexpr Text kInputTooLarge =
    "   ERROR:   El fitxer d'entrada \xE9s massa gran: com a m\xE0xim pot tenir 4294967295 bytes.";
inline constexpr Text kInputTooShort =
    "   ERROR:   El fitxer d'entrada \xE9s massa curt per ser un fitxer AACS v\xE0lid.";

// Output location.
inline constexpr Text kNameTooLong =
    "   ERROR:   El nom del fitxer \xE9s massa llarg: com a m\xE0xim pot tenir 267 car\xE0"
    "cters.";
inline constexpr Text kSameFile =
    "   ERROR:   La ruta del fitxer d'entrada coincideix amb el de sortida.";
inline constexpr Text kSameFileAdvice =
    "            Esculli una ruta diferent per deixar el fitxer de sortida.";
inline constexpr Text kNoDiscFolder =
    "   ERROR:   No s'ha trobat la carpeta ADV_OBJ dins de la ruta de sortida";
inline constexpr Text kNoOutputFolder = "   ERROR:   No es pot trobar la ruta de sortida indicada,";
inline constexpr Text kCheckWritable = "            comprovi que existeix i que s'hi pot escriure.";
inline constexpr Text kNoTable = "   ERROR:           No s'ha trobat la taula de hash num 2 i";
inline constexpr Text kNoTableConsequence =
    "                    per tant no es pot encapsular el fitxer ";
inline constexpr Text kNoTableExpected = "                    * Ruta esperada de la taula: ";
inline constexpr Text kNoTablePathIndent = "                      ";

// The help: 40 lines, printed after one line end and each followed by one, then one more line
// end.
inline constexpr std::array<Text, 40> kHelpLines = {
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
    "          -p per des/encapsular un fitxer que va un emmagatzematge persistent",
    "",
    "   PER DESENCAPSULAR I DESXIFRAR UN FITXER AACS:",
    "",
    "   c:/velador -d ruta_entrada ruta_sortida ruta_fitxer_amb_clau",
    "",
    "",
    "   ruta_entrada: Ruta completa del fitxer a encapsular o desencapsular",
    "",
    "                 NOTA: Si estem desencapsulant fitxers per a un disc AACS,",
    "                       aquesta ruta ha de tenir, al mateix nivell que la ",
    "                       carpeta que inclou el fitxer protegit, la carpeta:",
    "                        -AACS: on ha d'estar el fitxer de la taula de",
    "                               hash num 2: CONTENT_HASH_TABLE2.AACS ",
    "",
    "   ruta_sortida: Ruta completa on es deixa el fitxer encapsulat o desencapsulat",
    "",
    "                 NOTA: Si estem encapsulant fitxers per a un disc AACS, aquesta",
    "                       ruta ha de tenir a dins, com a minim, les carpetes:",
    "                        -AACS: on ha d'estar el fitxer de la taula de",
    "                               hash num 2: CONTENT_HASH_TABLE2.AACS ",
    "                        -ADV_OBJ: on es deixar\xE0 el fitxer AACS encapsulat. ",
    "",
    "   ruta_fitxer_amb_clau: Ruta on hi ha el fitxer que inclou la clau que es",
    "                         fa servir per xifrar i desxifrar, la clau la formen",
    "                         els primers 8 bytes d'aquest fitxer.",
    "                         Aquest parametre no cal posar-lo per protegir i",
    "                         desprotegir fitxers xml que van un disc AACS",
    "                         (el programa mostra la clau en hexadecimal)",
};

}  // namespace velador::messages
