#pragma once

// Every text the tool prints, as Windows-1252 bytes (0xE0 is "à", 0xE9 "é", 0xF3 "ó"). A "\n"
// inside a text is a line end (Console::Text flushes there). How the texts are framed by line
// ends is the renderer's business; this file holds the words.

#include <array>
#include <string_view>

#include "encapsulation/container_types.h"

namespace velador::texts {

using Text = std::string_view;

// ---- Front end ---------------------------------------------------------------------------

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

// The prompt of a start without arguments, where no command interpreter pauses for us.
inline constexpr Text kPausePrompt = "Premeu la tecla Retorn per continuar...";

// ---- Operations --------------------------------------------------------------------------

// What each operation announces, by type, encapsulating and decapsulating.
struct Announcements {
  Text encapsulate;
  Text decapsulate;
};
inline constexpr std::array<Announcements, 5> kAnnouncements = {{
    // In the order of ContainerType.
    {"   Encapsulant i xifrant per encryption...", "   Desencapsulant i desxifrant per encryption..."},
    {"   Encapsulant i xifrant per encryption i hash...",
     "   Desencapsulant i desxifrant per encryption and hash..."},
    {"   Encapsulant per MAC...", "   Desencapsulant per MAC..."},
    {"   Encapsulant per Hash...", "   Desencapsulant per hash"},
    {"   Encapsulant per Non-Protected...", "   Desencapsulant per Non-Protected..."},
}};

inline Text Announcement(ContainerType type, Direction direction) {
  const Announcements& row = kAnnouncements[static_cast<std::size_t>(type)];
  return direction == Direction::kEncapsulate ? row.encapsulate : row.decapsulate;
}

inline constexpr Text kResultPath = "   * Ruta del fitxer resultant: ";

inline constexpr Text kReadFailure = "   ERROR:   No s'ha pogut llegir el fitxer d'entrada.";
inline constexpr Text kWriteFailure = "   ERROR:   No s'ha pogut escriure el fitxer de sortida.";

inline constexpr Text kEncapsulated = "   ENCAPSULACIO: El fitxer s'ha encapsulat correctament";
inline constexpr Text kDecapsulated =
    "   DESENCAPSULACIO: El fitxer s'ha desencapsulat correctament";

inline constexpr Text kNameEnciphered =
    "   XIFRAT:       El nom del fitxer AACS s'ha xifrat correctament amb la clau:";
inline constexpr Text kFileEnciphered =
    "   XIFRAT:       El fitxer s'ha xifrat correctament amb la clau:";
inline constexpr Text kDecipheredNoColon =
    "   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau";
inline constexpr Text kDecipheredWithColon =
    "   DESXIFRAT:       El Fitxer s'ha desxifrat correctament en segons la clau:";
inline constexpr Text kMacObtained = "                 * MAC obtinguda: ";
inline constexpr Text kHashObtained = "                 * Hash obtingut: ";

inline constexpr int kEncapsulationDumpIndent = 17;
inline constexpr int kDecapsulationDumpIndent = 20;
inline constexpr int kMacDumpIndent = 18;

// Verdicts on the enciphered name (name-enciphering types), indented by 20 blanks.
inline constexpr Text kEncipheredNameMatches =
    "   VALIDACIO:       El nom del fitxer xifrat i emmagatzemat al fitxer\n"
    "                    a desencapsular COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kEncipheredNameDiffers =
    "   VALIDACIO:       El nom del fitxer xifrat i emmagatzemat al fitxer\n"
    "                    a desencapsular NO COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kPlayerAccepts20 =
    "                    (Un reproductor AACS acceptaria aquest fitxer)";
inline constexpr Text kPlayerRejects20 =
    "                    (Un reproductor AACS descartaria aquest fitxer)";

// Verdicts of the MAC and Hash types, indented by 14 blanks.
inline constexpr Text kMacMatches =
    "   VALIDACIO: La MAC emmagatzemada al fitxer a desencapsular COINCIDEIX \n"
    "              amb la generadada a partir del fitxer desencapsulat.";
inline constexpr Text kMacDiffers =
    "   VALIDACIO: La MAC emmagatzemada al fitxer a desencapsular NO COINCIDEIX \n"
    "              amb la generadada a partir del fitxer desencapsulat.";
inline constexpr Text kHashMatches =
    "   VALIDACIO: El HASH del fitxer a desencapsular emmagatzemat a la taula \n"
    "              de hash num 2 COINCIDEIX amb el generat a partir del \n"
    "              fitxer desencapsulat.";
inline constexpr Text kHashDiffers =
    "   VALIDACIO: El HASH del fitxer a desencapsular emmagatzemat a la taula \n"
    "              de hash num 2 NO COINCIDEIX amb el generat a partir del \n"
    "              fitxer desencapsulat.";
inline constexpr Text kStoredNameMatches14 =
    "              El nom del fitxer emmagatzemat al fitxer a desencapsular\n"
    "              COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kStoredNameDiffers14 =
    "              El nom del fitxer emmagatzemat al fitxer a desencapsular\n"
    "              NO COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kPlayerAccepts14 =
    "              (Un reproductor AACS acceptaria aquest fitxer)";
inline constexpr Text kPlayerRejects14 =
    "              (Un reproductor AACS descartaria aquest fitxer)";

// The Hash type without its table.
inline constexpr Text kRestoredWithoutTable = "   Fitxer desencapsulat correctament";
inline constexpr Text kHashTableMissing =
    "   VALIDACIO: No s'ha trobat la taula de hash num 2 i \n"
    "              per tant no es pot validar el fitxer";
inline constexpr Text kExpectedTablePath = "              ruta esperada: ";

// The Encryption-and-Hash type.
inline constexpr Text kUnitHashesMatch =
    "   VALIDACIO:       Els hashs de la taula de hash num 2 COINCIDEIXEN";
inline constexpr Text kUnitsCheckedBefore = "                    amb el/s ";
inline constexpr Text kUnitsCheckedAfter = " bloc/s comprovat/s aleatoriament.";
inline constexpr Text kUnitHashesDiffer =
    "   VALIDACIO:       Un o diversos hashs de taula de hash num 2 NO COINCIDEIXEN";
inline constexpr Text kUnitsCheckedDiffer =
    "                    amb els blocs comprovats aleatoriament.";
inline constexpr Text kStoredNameMatches20 =
    "                    El nom del fitxer emmagatzemat al fitxer a desencapsular\n"
    "                    COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kStoredNameDiffers20 =
    "                    El nom del fitxer emmagatzemat al fitxer a desencapsular\n"
    "                    NO COINCIDEIX amb el nom del fitxer real.";
inline constexpr Text kUnitTableMissing =
    "   VALIDACIO:       No s'ha trobat la taula de hash num 2 i\n"
    "                    per tant no es pot validar el fitxer \n"
    "                    (s'ha desencapsulat sense validar-lo)";
inline constexpr Text kUnitExpectedTablePath = "                    * ruta esperada de la taula: ";
inline constexpr Text kUnitExpectedTablePathIndent = "                      ";

// The content hash table.
inline constexpr Text kTableFull = "Error: Taula de hash num 2 plena";
inline constexpr Text kTableNotUpdated = "Error: No s'ha pogut actualitzar la taula de hash num 2";

// ---- Progress line (standard error, terminals only) ---------------------------------------

// "  37%  1.5 GiB / 4.0 GiB  612.0 MiB/s": binary units, from bytes up.
inline constexpr std::array<Text, 5> kByteUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
inline constexpr Text kProgressOf = " / ";
inline constexpr Text kPerSecond = "/s";

}  // namespace velador::texts
