#pragma once

// Every text the container operations print, as Windows-1252 bytes. A "\n" inside a text is a
// line end (Console::Text flushes there).

#include <string_view>

namespace velador::messages {

using Text = std::string_view;

inline constexpr Text kResultPath = "   * Ruta del fitxer resultant: ";

inline constexpr Text kAnnounceEncapsulateNonProtected = "   Encapsulant per Non-Protected...";
inline constexpr Text kAnnounceDecapsulateNonProtected = "   Desencapsulant per Non-Protected...";
inline constexpr Text kAnnounceEncapsulateEncryption = "   Encapsulant i xifrant per encryption...";
inline constexpr Text kAnnounceDecapsulateEncryption =
    "   Desencapsulant i desxifrant per encryption...";
inline constexpr Text kAnnounceEncapsulateMac = "   Encapsulant per MAC...";
inline constexpr Text kAnnounceDecapsulateMac = "   Desencapsulant per MAC...";
inline constexpr Text kAnnounceEncapsulateHash = "   Encapsulant per Hash...";
inline constexpr Text kAnnounceDecapsulateHash = "   Desencapsulant per hash";
inline constexpr Text kAnnounceEncapsulateEncryptionHash =
    "   Encapsulant i xifrant per encryption i hash...";
inline constexpr Text kAnnounceDecapsulateEncryptionHash =
    "   Desencapsulant i desxifrant per encryption and hash...";

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

}  // namespace velador::messages
