#pragma once

// Every text the tool prints, as Windows-1252 bytes (0xE0 is "à", 0xE9 "é", 0xF3 "ó"). A "\n"
// inside a text is a line end (Console::Text flushes there). How the texts are framed by line
// ends is the renderer's business; this file holds the words.

#include <array>
#include <string_view>

#include "crypto/crypto_paths.h"
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
inline constexpr Text kImageNotTrusted =
    "   ERROR:   La imatge de disc no \xE9s de fiar i no s'hi fa res: ";
inline constexpr Text kOutOfMemory =
    "   ERROR:   No hi ha prou mem\xF2ria per acabar l'operaci\xF3; no s'ha canviat cap fitxer.";
inline constexpr Text kImageUnfinished =
    "   ERROR:   La imatge de disc t\xE9 un canvi a mig fer que no s'ha pogut acabar: ";
inline constexpr Text kImageUnfinishedAdvice =
    "            Quan s'hi pugui escriure, l'acabar\xE0 qualsevol ordre que la canvi\xEF.";
inline constexpr Text kImageNotTrustedAdvice =
    "            Comprovi-la amb velador-image check, que diu qu\xE8 hi falla.";

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
// A switch, so that a type without its texts does not compile.
constexpr Announcements AnnouncementsOf(ContainerType type) {
  switch (type) {
    case ContainerType::kEncryption:
      return {"   Encapsulant i xifrant per encryption...",
              "   Desencapsulant i desxifrant per encryption..."};
    case ContainerType::kEncryptionHash:
      return {"   Encapsulant i xifrant per encryption i hash...",
              "   Desencapsulant i desxifrant per encryption and hash..."};
    case ContainerType::kMac:
      return {"   Encapsulant per MAC...", "   Desencapsulant per MAC..."};
    case ContainerType::kHash:
      return {"   Encapsulant per Hash...", "   Desencapsulant per hash"};
    case ContainerType::kNonProtected:
      return {"   Encapsulant per Non-Protected...", "   Desencapsulant per Non-Protected..."};
  }
  return {};
}

inline Text Announcement(ContainerType type, Direction direction) {
  const Announcements row = AnnouncementsOf(type);
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

// ---- velador-image ------------------------------------------------------------------------
//
// The second program's texts. A line of its report starts with a label of kImageLabelWidth
// columns; what varies (names, numbers, paths) is printed between the pieces below.

// The second line of --version: the code AES-128 and SHA-1 run on. Switches, so that a path
// without its name does not compile.
inline constexpr Text kCryptoPathsAes = "criptografia: AES amb ";
inline constexpr Text kCryptoPathsSha1 = ", SHA-1 amb ";
constexpr Text AesPathName(AesPath path) {
  switch (path) {
    case AesPath::kPortable:
      return "codi portable";
    case AesPath::kAesNi:
      return "AES-NI";
    case AesPath::kVaes:
      return "AES-NI i VAES";
    case AesPath::kArmv8:
      return "ARMv8";
  }
  return {};
}
constexpr Text Sha1PathName(Sha1Path path) {
  switch (path) {
    case Sha1Path::kPortable:
      return "codi portable";
    case Sha1Path::kShaNi:
      return "SHA-NI";
    case Sha1Path::kArmv8:
      return "ARMv8";
  }
  return {};
}

inline constexpr std::array<Text, 68> kImageUsageLines = {
    "velador-image: crea, comprova, omple, extreu o compacta una imatge de disc sencera.",
    "",
    "   velador-image check <carpeta o fitxer d'imatge> [--key <fitxer amb clau>]",
    "                       [--json]",
    "   velador-image add <imatge de disc> [--key <fitxer amb clau>] [--replace] [--json]",
    "                     <fitxer>...",
    "   velador-image init <carpeta> [--json]",
    "   velador-image extract <imatge de disc o fitxer d'imatge> <carpeta de sortida>",
    "                         [--key <fitxer amb clau>] [--force] [--json]",
    "   velador-image compact <imatge de disc> [--json]",
    "   velador-image remove <imatge de disc> [--json] <nom>...",
    "   velador-image build <carpeta d'origen> <imatge de disc> [--key <fitxer amb clau>]",
    "                       [--change-key] [--exclude <patr\xF3>]... [--no-default-exclude]",
    "                       [--dry-run] [--no-cache | --cache-dir <carpeta>] [--json]",
    "   velador-image --help | --version",
    "",
    "   check   Comprova cada fitxer de la carpeta ADV_OBJ de la imatge (o de la carpeta",
    "           d'emmagatzematge persistent) i la taula de hash num 2, en mem\xF2ria i sense",
    "           escriure res, i diu si un reproductor AACS acceptaria cada fitxer.",
    "           Tamb\xE9 llegeix el fitxer d'imatge de disc (UDF) fet amb la carpeta, tal",
    "           com es lliura, i en diu el mateix que de la carpeta.",
    "   add     Encapsula cada fitxer per a la imatge de disc, tal com ho faria",
    "           velador -e -d <fitxer> <imatge de disc> <fitxer amb clau>.",
    "   init    Crea una imatge de disc buida: la carpeta (si no hi \xE9s), la carpeta ADV_OBJ",
    "           i una taula de hash num 2 sense entrades. Mai no toca una taula existent.",
    "   extract Desencapsula cada fitxer de la imatge (o de la carpeta d'emmagatzematge",
    "           persistent) a la carpeta de sortida, tal com ho faria",
    "           velador -d <fitxer> <carpeta de sortida> <fitxer amb clau>, i el comprova",
    "           com check. Tamb\xE9 d'un fitxer d'imatge de disc (UDF).",
    "   compact Renumera la taula de hash num 2 perqu\xE8 tingui nom\xE9s les entrades que",
    "           nomenen els fitxers d'ADV_OBJ, des de l'1, i reescriu els fitxers que canvien",
    "           de n\xFAmeros. Cap fitxer no canvia de veredicte. Tot o res: si falla, la",
    "           imatge queda com estava.",
    "   remove  Elimina els fitxers d'ADV_OBJ que tenen aquests noms (noms, no rutes) i",
    "           compacta la taula, tot alhora: si un nom no hi \xE9s, no elimina res.",
    "   build   Deixa a la carpeta ADV_OBJ exactament els fitxers de la carpeta d'origen,",
    "           encapsulats com ho faria velador -e -d: afegeix els nous, torna a encapsular",
    "           els que han canviat, elimina els que ja no hi s\xF3n, no toca els que no han",
    "           canviat i compacta la taula. Tot o res: si un fitxer no es pot afegir o",
    "           alguna cosa falla, la imatge queda com estava.",
    "",
    "   --key   Fitxer amb els 16 bytes de la clau, ni m\xE9s ni menys. Cal per a tots",
    "           els tipus menys Hash.",
    "   --json  Un sol document JSON (UTF-8) en lloc del text.",
    "   --quiet, -q  Nom\xE9s el que demana atenci\xF3 (fitxers descartats, no afegits o no",
    "              extrets, problemes de la taula, errors) i el resum.",
    "   --replace  Amb add: substitueix el fitxer que ja tingui el mateix nom a la imatge.",
    "   --force    Amb extract: substitueix el fitxer que ja tingui el mateix nom a la",
    "              carpeta de sortida.",
    "   --dry-run  Amb build: diu qu\xE8 faria, sense escriure res.",
    "   --change-key  Amb build: torna a xifrar tota la imatge amb la clau indicada,",
    "              encara que no correspongui als fitxers que ja t\xE9.",
    "   --exclude  Amb build: deixa fora de la imatge els fitxers de l'origen amb noms com",
    "              el patr\xF3 (* qualsevol seq\xFC\xE8ncia, ? qualsevol car\xE0"
    "cter). Per",
    "              defecte en deixa fora .DS_Store, Thumbs.db, desktop.ini, *~, .*.swp, .*.swo",
    "              i #*#; --no-default-exclude els hi posa.",
    "   --no-cache Amb build: compara cada fitxer sencer amb el de l'origen, sense fer",
    "              servir ni desar el que va aprendre l'anterior build de la imatge.",
    "   --cache-dir  Amb build: la carpeta on es desa aix\xF2 (per defecte, velador a la",
    "              carpeta de mem\xF2ria cau de l'usuari); mai no es desa a la imatge.",
    "   --      Les paraules que segueixen no s\xF3n opcions.",
    "",
    "   Estat de sortida: 0 si tot \xE9s correcte; 1 si algun fitxer es descartaria,",
    "   no s'ha pogut comprovar, afegir o extreure, o si la taula t\xE9 problemes;",
    "   2 si no s'ha pogut fer res (carpeta, imatge, taula o par\xE0metres incorrectes);",
    "   130 si s'ha interromput (Ctrl-C).",
    "",
    "   Vegeu tamb\xE9: velador-image(1), velador(1).",
};

// Why a run could not be made (exit status 2), each followed by the path or word concerned.
inline constexpr Text kImageErrorPrefix = "velador-image: ERROR: ";
inline constexpr Text kImageHelpHint = " (ajuda: velador-image --help)";
inline constexpr Text kImageUnknownCommand =
    "Ordre desconeguda, ha de ser check, add, init, extract, compact, remove o build: ";
inline constexpr Text kImageNoCommand =
    "Falta l'ordre: check, add, init, extract, compact, remove o build";
inline constexpr Text kImageUnknownOption = "Opci\xF3 desconeguda: ";
inline constexpr Text kImageMissingKey = "Falta el fitxer de la clau despr\xE9s de --key";
inline constexpr Text kImageTwoKeys = "La clau nom\xE9s es pot indicar un cop";
inline constexpr Text kImageMissingFolder = "Falta la carpeta a comprovar";
inline constexpr Text kImageMissingImage = "Falta la imatge de disc";
inline constexpr Text kImageMissingFiles = "Falten els fitxers a afegir";
inline constexpr Text kImageMissingNewImage = "Falta la carpeta de la imatge de disc nova";
inline constexpr Text kImageMissingOutput = "Falta la carpeta de sortida";
inline constexpr Text kImageMissingSource = "Falta la carpeta d'origen";
inline constexpr Text kImageForceOnlyExtract = "--force nom\xE9s es pot fer servir amb extract";
inline constexpr Text kImageKeyNotInit = "--key no es pot fer servir amb init, compact ni remove";
inline constexpr Text kImageMissingNames = "Falten els noms dels fitxers a eliminar";
inline constexpr Text kImageNotAName =
    "Cal el nom d'un fitxer d'ADV_OBJ, sense / ni \\ (no una ruta): ";
inline constexpr Text kImageExtraWord = "Sobra aquesta paraula: ";
inline constexpr Text kImageReplaceOnlyAdd = "--replace nom\xE9s es pot fer servir amb add";
inline constexpr Text kImageDryRunOnlyBuild = "--dry-run nom\xE9s es pot fer servir amb build";
inline constexpr Text kImageExcludeOnlyBuild =
    "--exclude i --no-default-exclude nom\xE9s es poden fer servir amb build";
inline constexpr Text kImageMissingPattern = "Falta el patr\xF3 de noms despr\xE9s de --exclude";
inline constexpr Text kImageCacheOnlyBuild =
    "--no-cache i --cache-dir nom\xE9s es poden fer servir amb build";
inline constexpr Text kImageMissingCacheFolder = "Falta la carpeta despr\xE9s de --cache-dir";
inline constexpr Text kImageChangeKeyOnlyBuild =
    "--change-key nom\xE9s es pot fer servir amb build";
inline constexpr Text kImageKeyFile = "No s'ha pogut obrir el fitxer on es troba la clau: ";
// A key file for a whole image holds the 16 bytes of the key and nothing else.
inline constexpr Text kImageKeyFromStandardInput =
    "La clau no es llegeix de l'entrada est\xE0ndard: --key necessita el cam\xED d'un fitxer amb "
    "els 16 bytes de la clau: ";
inline constexpr Text kImageKeyHexText =
    "El fitxer de clau ha de contenir els 16 bytes de la clau, no el text hexadecimal de 32 "
    "car\xE0"
    "cters que la representa: ";
inline constexpr Text kImageKeyDoesNotFit =
    "La clau no correspon a la imatge de disc: no desxifra el nom de cap dels fitxers xifrats "
    "que ja t\xE9 (per tornar a xifrar tota la imatge amb aquesta clau: build --change-key): ";
inline constexpr Text kImageKeyNeeded =
    "Cal la clau (--key): els fitxers de l'origen que no s\xF3n de tipus Hash s'han de xifrar, "
    "com ara: ";
inline constexpr Text kImageKeyWrongLength =
    "El fitxer de clau ha de contenir exactament els 16 bytes de la clau, ni m\xE9s ni menys: ";
inline constexpr Text kImageNoFolder = "No s'ha trobat la carpeta indicada: ";
inline constexpr Text kImageUnreadableFolder = "No s'ha pogut llegir la carpeta: ";
inline constexpr Text kImageUnreadableImageFile =
    "No s'ha pogut llegir el fitxer d'imatge de disc: ";
inline constexpr Text kImageNoFileSystem =
    "El fitxer no cont\xE9 cap sistema de fitxers UDF que es pugui llegir: ";
inline constexpr Text kImageFilesUnsupported =
    "Aquesta versi\xF3 no llegeix fitxers d'imatge de disc; munteu la imatge i comproveu la "
    "carpeta muntada: ";
inline constexpr Text kImageFileNotWritable =
    "Un fitxer d'imatge de disc nom\xE9s es comprova (check) o s'extreu (extract); canvieu la "
    "carpeta d'on s'ha fet i torneu a fer el fitxer: ";
inline constexpr Text kImageNoDiscFolder =
    "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ";
inline constexpr Text kImageDiscFolderNotWritable =
    "No es pot escriure a la carpeta ADV_OBJ de la imatge de disc: ";
inline constexpr Text kImageUnreadableTable = "No s'ha pogut llegir la taula de hash num 2: ";
inline constexpr Text kImageTableTooLarge =
    "La taula de hash num 2 t\xE9 massa entrades per comprovar-la (m\xE0xim 2147483648): ";
inline constexpr Text kImageUnusableTable =
    "No s'ha pogut actualitzar la taula de hash num 2 (no s'obre per escriure-hi, \xE9s plena o "
    "la llargada no correspon al comptador): ";

inline constexpr Text kImageNoOutputFolder =
    "A la ruta de sortida no hi ha cap carpeta, ni se n'hi ha pogut crear cap: ";
inline constexpr Text kImageInitNoParent =
    "No s'ha trobat la carpeta on s'ha de crear la imatge de disc: ";
inline constexpr Text kImageInitNotFolder = "Hi ha un fitxer on hi hauria d'haver una carpeta: ";
inline constexpr Text kImageInitTableExists =
    "La imatge de disc ja t\xE9 una taula de hash num 2 (no s'ha tocat): ";
inline constexpr Text kImageInitDiscFolderNotEmpty =
    "La carpeta ADV_OBJ ja t\xE9 fitxers, i les seves entrades no serien a una taula nova: ";
inline constexpr Text kImageInitCannotCreate = "No s'ha pogut crear la carpeta: ";
inline constexpr Text kImageInitWriteFailure = "No s'ha pogut escriure la taula de hash num 2: ";

// Why compact or remove changed nothing; the image is as it was.
inline constexpr Text kImageChangeNoTable = "La imatge de disc no t\xE9 taula de hash num 2: ";
inline constexpr Text kImageChangeUnusableTable =
    "No s'ha pogut fer servir la taula de hash num 2 (no s'obre per escriure-hi, no es pot "
    "llegir o fa menys de 40060 bytes): ";
inline constexpr Text kImageChangeUnreadableFile =
    "No s'ha pogut llegir aquest fitxer d'ADV_OBJ (no s'ha canviat res): ";
inline constexpr Text kImageChangeNotInImage =
    "No hi ha cap fitxer amb aquest nom a la carpeta ADV_OBJ (no s'ha eliminat res): ";
// An image that is not what it claims to be, or whose recovery records no run of the tool would
// write: nothing of it is read or changed.
inline constexpr Text kImageLinkInside =
    "Un enlla\xE7 ocupa el lloc d'una carpeta o d'un fitxer de la imatge de disc, i no se "
    "segueix (no es fa res amb la imatge): ";
inline constexpr Text kImageNotFolderInside =
    "No \xE9s una carpeta, i la imatge de disc hi ha de tenir una carpeta (no es fa res amb la "
    "imatge): ";
inline constexpr Text kImageNotFileInside =
    "No \xE9s un fitxer normal, i la imatge de disc hi ha de tenir un fitxer (no es fa res amb la "
    "imatge): ";
inline constexpr Text kImageRefusedRecord =
    "El registre de recuperaci\xF3 demana el que cap execuci\xF3 de velador no faria (la imatge "
    "pot venir d'alg\xFA que no \xE9s de fiar); no s'aplica i queda on \xE9s perqu\xE8 una "
    "persona el revisi: ";
inline constexpr Text kImageReportNotWritten =
    "No s'ha pogut escriure l'informe a la sortida est\xE0ndard (l'ordre s'ha executat: "
    "comprovi la imatge amb velador-image check): ";
inline constexpr Text kImageLeftToFinish =
    "El canvi ha quedat fet en part i no s'ha pogut acabar (disc ple, l\xEDmit de mida o "
    "error d'escriptura); la propera ordre de velador-image que bloquegi la imatge l'acabar\xE0 "
    "quan s'hi pugui escriure, a partir del registre que hi ha al costat de la taula: ";
inline constexpr Text kImageUnfinishedChange =
    "La imatge de disc t\xE9 un canvi a mig fer que no s'ha pogut acabar, i no se'n dona cap "
    "veredicte; quan s'hi pugui escriure (no en un suport de nom\xE9s lectura, amb espai "
    "lliure), qualsevol ordre que la canvi\xEF l'acabar\xE0, per exemple velador-image "
    "compact. Registre: ";
inline constexpr Text kImageOutOfMemory =
    "No hi ha prou mem\xF2ria per treballar amb la imatge de disc (no s'hi ha canviat res): ";

inline constexpr Text kImageOutputInImage =
    "La carpeta de sortida \xE9s la imatge de disc o hi \xE9s a dins; cal una carpeta de fora de "
    "la imatge: ";
inline constexpr Text kImageBuildSourceInImage =
    "La carpeta d'origen \xE9s la imatge de disc o hi \xE9s a dins; cal una carpeta de fora de la "
    "imatge: ";
inline constexpr Text kImageChangeWriteFailure =
    "No s'ha pogut escriure a la imatge de disc (ha quedat com estava): ";

// Why build changed nothing; the image is as it was. The others are compact's.
inline constexpr Text kImageBuildNoSource = "No s'ha trobat la carpeta d'origen: ";
inline constexpr Text kImageBuildUnreadableSource = "No s'ha pogut llegir la carpeta d'origen: ";
inline constexpr Text kImageBuildSubFolder =
    "La carpeta ADV_OBJ no t\xE9 subcarpetes, i la carpeta d'origen nom\xE9s pot tenir fitxers "
    "(no se'n prenen subcarpetes); aquesta entrada no \xE9s un fitxer: ";
inline constexpr Text kImageBuildUnreadableFile =
    "No s'ha pogut llegir aquest fitxer (no s'ha canviat res): ";

// The labels that start the lines of a report.
inline constexpr std::size_t kImageLabelWidth = 17;
inline constexpr Text kLabelAccepted = "   ACCEPTAT     ";
inline constexpr Text kLabelRefused = "   DESCARTAT    ";
inline constexpr Text kLabelNotChecked = "   NO COMPROVAT ";
inline constexpr Text kLabelTable = "   TAULA        ";
inline constexpr Text kLabelAdded = "   AFEGIT       ";
inline constexpr Text kLabelNotAdded = "   NO AFEGIT    ";
inline constexpr Text kLabelSummary = "   RESUM:       ";
inline constexpr Text kLabelCreated = "   CREAT        ";
inline constexpr Text kLabelExisting = "   JA HI ERA    ";
inline constexpr Text kLabelRenumbered = "   RENUMERAT    ";
inline constexpr Text kLabelUnchanged = "   SENSE CANVIS ";
inline constexpr Text kLabelRemoved = "   ELIMINAT     ";
inline constexpr Text kLabelReplaced = "   SUBSTITU\xCFT   ";
inline constexpr Text kLabelDryRun = "   PROVA        ";
inline constexpr Text kLabelNotDone = "   NO FET       ";
inline constexpr Text kLabelNote = "   NOTA         ";
inline constexpr Text kLabelExcluded = "   EXCLOSOS:    ";
// After the count of the source's files left out of a build, before their names.
inline constexpr Text kExcludedOne = " fitxer de l'origen no s'ha posat a la imatge: ";
inline constexpr Text kExcludedMany = " fitxers de l'origen no s'han posat a la imatge: ";
// After the count of temporary files a stopped run left in ADV_OBJ.
inline constexpr Text kLeftoverOne =
    " fitxer temporal (.velador-...) que va deixar una execuci\xF3 aturada: no \xE9s de la "
    "imatge, i el treu la propera ordre que la canvi\xEF (per exemple velador-image compact)";
inline constexpr Text kLeftoverMany =
    " fitxers temporals (.velador-...) que va deixar una execuci\xF3 aturada: no s\xF3n de la "
    "imatge, i els treu la propera ordre que la canvi\xEF (per exemple velador-image compact)";

// The type names, by a switch, so that a type without its name does not compile.
constexpr Text TypeName(ContainerType type) {
  switch (type) {
    case ContainerType::kEncryption:
      return "Encryption";
    case ContainerType::kEncryptionHash:
      return "Encryption-and-Hash";
    case ContainerType::kMac:
      return "MAC";
    case ContainerType::kHash:
      return "Hash";
    case ContainerType::kNonProtected:
      return "Non-Protected";
  }
  return {};
}

// Why a file would not be accepted, or could not be checked.
inline constexpr Text kReasonUnreadable = "no s'ha pogut llegir";
inline constexpr Text kReasonNotContainer = "no correspon a un fitxer AACS";
inline constexpr Text kReasonUnknownType =
    "el tipus d'encapsulaci\xF3 no correspon a un fitxer AACS v\xE0lid";
inline constexpr Text kReasonTooShort = "\xE9s massa curt per ser un fitxer AACS v\xE0lid";
inline constexpr Text kReasonNameTooLong =
    "el nom t\xE9 m\xE9s de 267 car\xE0"
    "cters";
inline constexpr Text kReasonNoKey = "cal la clau per comprovar-lo (--key)";
inline constexpr Text kReasonFolder = "\xE9s una carpeta, no un fitxer";
inline constexpr Text kReasonNotRegular = "no \xE9s un fitxer normal";
inline constexpr Text kReasonWrongKey =
    "la clau NO CORRESPON a aquest fitxer (el nom emmagatzemat no es pot desxifrar)";
inline constexpr Text kReasonCutShort =
    "s'ha acabat abans del que diu la cap\xE7"
    "alera";
inline constexpr Text kReasonNameDiffers =
    "el nom emmagatzemat NO COINCIDEIX amb el nom del fitxer real";
inline constexpr Text kReasonMacDiffers = "la MAC emmagatzemada NO COINCIDEIX amb la calculada";
inline constexpr Text kReasonNoTable = "no s'ha trobat la taula de hash num 2";
inline constexpr Text kReasonUnitPrefix = "bloc ";  // then the unit's number and ": "
inline constexpr Text kReasonEntryBefore = "el hash NO COINCIDEIX amb l'entrada ";
inline constexpr Text kReasonEntryAfter = " de la taula";
inline constexpr Text kReasonNoEntry = "sense entrada a la taula (n\xFAmero 0)";
inline constexpr Text kReasonPastCounterBefore = "l'entrada ";
inline constexpr Text kReasonPastCounterMiddle =
    " \xE9s m\xE9s enll\xE0 del comptador de la taula (";
inline constexpr Text kReasonPastCounterAfter = ")";
inline constexpr Text kReasonOutsideBody = "el fitxer no t\xE9 aquest bloc (entrada ";
inline constexpr Text kReasonOutsideBodyAfter = ")";
inline constexpr Text kReasonNoNumbers = "hi ha blocs sense n\xFAmero d'entrada";

// The table's line and its findings.
inline constexpr Text kTableEntries = "entrades: ";
inline constexpr Text kTableConsistent = ", coherent";
inline constexpr Text kTableFindings = ", problemes: ";
inline constexpr Text kTableAbsent = "no hi \xE9s";
inline constexpr Text kTableNoneInStorage = "cap (emmagatzematge persistent)";
inline constexpr Text kFindingMissing =
    "no s'ha trobat la taula, i hi ha fitxers que la necessiten";
inline constexpr Text kFindingLengthBefore = "la llargada (";
inline constexpr Text kFindingLengthMiddle = " bytes) no correspon al comptador (";
inline constexpr Text kFindingLengthAfter = "): hauria de tenir ";
inline constexpr Text kFindingBytes = " bytes";
inline constexpr Text kFindingOrphans = "entrades \xF2rfenes (no les nomena cap fitxer): ";
inline constexpr Text kFindingShared = "entrades nomenades m\xE9s d'un cop: ";
inline constexpr Text kFindingSharedBy = "; les nomenen: ";
inline constexpr Text kFindingRangesBefore = " (";
inline constexpr Text kFindingRangesAfter = ")";
inline constexpr Text kFindingPastCounter =
    "fitxers que nomenen entrades m\xE9s enll\xE0 del comptador: ";
inline constexpr Text kFindingNoEntry = "fitxers amb blocs sense entrada (n\xFAmero 0): ";
inline constexpr Text kFindingMore = ", ...";

// The summary of a check.
inline constexpr Text kSummaryFiles = "fitxers: ";
inline constexpr Text kSummaryAccepted = ", acceptats: ";
inline constexpr Text kSummaryRefused = ", descartats: ";
inline constexpr Text kSummaryNotChecked = ", sense comprovar: ";
inline constexpr Text kSummaryFindings = ", problemes de la taula: ";
inline constexpr Text kImageAccepted =
    "   (Un reproductor AACS acceptaria tots els fitxers d'aquesta carpeta)";
inline constexpr Text kImageRefused =
    "   (Un reproductor AACS descartaria algun fitxer d'aquesta carpeta)";
inline constexpr Text kImageUndecided = "   (No s'han pogut comprovar tots els fitxers)";
// After the verdict, when the files say so of the key given.
inline constexpr Text kImageWrongKey =
    "   (La clau indicada NO CORRESPON als fitxers d'aquesta carpeta)";
inline constexpr Text kImageMaybeWrongKey =
    "   (Cap MAC coincideix: potser la clau indicada no correspon als fitxers d'aquesta carpeta)";

// Adding: why a file was not added, and what its line adds.
inline constexpr Text kAddNotFound = "no s'ha trobat el fitxer";
inline constexpr Text kAddAlreadyContainer = "ja correspon a un fitxer AACS";
inline constexpr Text kAddTooLarge = "\xE9s massa gran: com a m\xE0xim pot tenir 4294967295 bytes";
inline constexpr Text kAddNameTooLong =
    "el nom t\xE9 m\xE9s de 267 car\xE0"
    "cters";
inline constexpr Text kAddPathTooLong =
    "la ruta t\xE9 m\xE9s de 271 car\xE0"
    "cters";
inline constexpr Text kAddSameFile =
    "el fitxer de sortida seria el mateix fitxer d'entrada, la taula o la clau";
inline constexpr Text kAddCannotCreate = "no es pot crear el fitxer a la carpeta ADV_OBJ";
inline constexpr Text kAddNoTable = "no s'ha trobat la taula de hash num 2";
inline constexpr Text kAddNoKey = "cal la clau per encapsular-lo (--key)";
inline constexpr Text kAddDuplicate = "un fitxer anterior d'aquesta llista ja t\xE9 aquest nom";
inline constexpr Text kAddReadFailure = "no s'ha pogut llegir el fitxer d'entrada";
inline constexpr Text kAddWriteFailure = "no s'ha pogut escriure el fitxer de sortida";
inline constexpr Text kAddExists = "ja hi ha un fitxer amb aquest nom a la imatge: ";
inline constexpr Text kAddExistsAdvice = " (--replace per substituir-lo)";
inline constexpr Text kAddTableFull = "la taula de hash num 2 \xE9s plena";
inline constexpr Text kAddTableNotUpdated = "no s'ha pogut actualitzar la taula de hash num 2";
inline constexpr Text kExtractNameTaken =
    "un fitxer anterior de la imatge t\xE9 el mateix nom amb les lletres en una altra caixa, i "
    "nom\xE9s se n'extreu el primer";
inline constexpr Text kAddReservedName =
    "el nom comen\xE7"
    "a per .velador-, que les eines reserven per als seus fitxers temporals";
inline constexpr Text kAddReplaced = "substitueix el fitxer anterior";
inline constexpr Text kAddLeftUnusedBefore = ", que deixa ";
inline constexpr Text kAddLeftUnusedAfter = " entrades de la taula sense fer servir";
inline constexpr Text kAddLeftUnusedAfterOne = " entrada de la taula sense fer servir";
// What puts right the entries a replacement left unused, or orphans a check found.
inline constexpr Text kHintCompactUnused =
    "les entrades de la taula que han quedat sense fer servir es treuen amb: velador-image "
    "compact ";
inline constexpr Text kHintCompactOrphans =
    "les entrades \xF2rfenes es treuen amb: velador-image compact ";
inline constexpr Text kAddEntry = "entrada ";
inline constexpr Text kAddEntries = "entrades ";
inline constexpr Text kSummaryAdded = ", afegits: ";
inline constexpr Text kSummaryNotAdded = ", no afegits: ";

// Making an empty image: what its lines add.
inline constexpr Text kInitTableBefore = " (taula de hash num 2 sense entrades, ";
inline constexpr Text kInitTableAfter = " bytes)";
inline constexpr Text kInitSummary = "imatge de disc a punt: ";

// Extracting: why a file was not restored, after its check's line, and the summary.
inline constexpr Text kExtractNotExtracted = "NO EXTRET";
inline constexpr Text kExtractExists =
    "ja hi ha un fitxer amb aquest nom a la carpeta de sortida: ";
inline constexpr Text kExtractExistsAdvice = " (--force per substituir-lo)";
inline constexpr Text kExtractPathTooLong = kAddPathTooLong;
inline constexpr Text kExtractSameFile = kAddSameFile;
inline constexpr Text kExtractCannotCreate = "no es pot crear el fitxer a la carpeta de sortida";
inline constexpr Text kExtractWriteFailure = kAddWriteFailure;
inline constexpr Text kSummaryExtracted = ", extrets: ";
inline constexpr Text kSummaryNotExtracted = ", no extrets: ";

// Compacting and removing: the table's line ("comptador: de 12 a 8, llargada: de 40156 a 40124
// bytes, entrades \xF2rfenes eliminades: 3, c\xF2pies fetes: 1") and the summary. A file's
// entries read as in an add's line (kAddEntry, kAddEntries).
inline constexpr Text kCompactCounter = "comptador: de ";
inline constexpr Text kCompactTo = " a ";
inline constexpr Text kCompactLength = ", llargada: de ";
inline constexpr Text kCompactBytes = " bytes";
inline constexpr Text kCompactOrphans = ", entrades \xF2rfenes eliminades: ";
inline constexpr Text kCompactCopies = ", c\xF2pies fetes: ";
inline constexpr Text kSummaryRenumbered = ", renumerats: ";
inline constexpr Text kSummaryUnchanged = ", sense canvis: ";
inline constexpr Text kSummaryRemoved = ", eliminats: ";

// Building: the first line of a run that wrote nothing, after kLabelDryRun or kLabelNotDone,
// and the summary ("fitxers: 5, afegits: 1, substitu\xEFts: 1, eliminats: 1, sense canvis: 2",
// or, when a file was refused, "fitxers: 5, no afegits: 1: no s'ha canviat res").
inline constexpr Text kBuildDryRun = "no s'ha escrit res: cada l\xEDnia diu qu\xE8 es faria";
inline constexpr Text kBuildNotDone =
    "hi ha fitxers que no es poden afegir, i no s'ha escrit res: cada l\xEDnia diu qu\xE8 es "
    "faria";
inline constexpr Text kSummaryReplaced = ", substitu\xEFts: ";
inline constexpr Text kBuildNothingChanged = ": no s'ha canviat res";

// ---- Interrupted (Ctrl-C): the one line left on standard error ---------------------------

// "velador-image: INTERROMPUT: La imatge no ha canviat; fitxers comprovats: 12", and as the run
// goes on, what is true of the image and of the files at that moment.
inline constexpr Text kInterruptedPrefix = "velador-image: INTERROMPUT: ";
inline constexpr Text kInterruptedUnchanged = "La imatge no ha canviat";
inline constexpr Text kInterruptedChanged = "El canvi ja s'ha fet sencer";
inline constexpr Text kInterruptedChecked = "; fitxers comprovats: ";
// Files may be finished side by side: those already told of are there, and maybe a few more.
inline constexpr Text kInterruptedExtracted = "; fitxers extrets, sencers: almenys ";
inline constexpr Text kInterruptedAdded = "La imatge \xE9s sencera; fitxers afegits: ";
inline constexpr Text kInterruptedOf = " de ";
inline constexpr Text kInterruptedNotAdded = "; no afegits: ";

// ---- Progress line (standard error, terminals only) ---------------------------------------

// "  37%  1.5 GiB / 4.0 GiB  612.0 MiB/s": binary units, from bytes up.
inline constexpr std::array<Text, 5> kByteUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
inline constexpr Text kProgressOf = " / ";
inline constexpr Text kPerSecond = "/s";

}  // namespace velador::texts
