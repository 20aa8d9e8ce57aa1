#pragma once

// The reasons the media control gives, after "Impossible de lire « name » : ".
namespace gstreason {
inline const char *const NotFound = "le fichier est introuvable.";
inline const char *const NotRegular = "ce n'est pas un fichier ordinaire.";
inline const char *const Denied = "accès refusé.";
inline const char *const NotRecognised = "ce n'est pas un fichier son reconnu ou il est endommagé.";
inline const char *const NoDecoder = "aucun décodeur n'est installé pour ce format.";
inline const char *const TimedOut = "le lecteur n'a pas répondu à temps.";
inline const char *const NoOutput = "aucune sortie son n'est disponible sur cet ordinateur.";
inline const char *const Video = "la vidéo ne peut pas être affichée.";
inline const char *const Other = "une erreur de lecture s'est produite.";
} // namespace gstreason
