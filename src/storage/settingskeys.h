#pragma once

#include <QColor>
#include <QString>

// Every value the player keeps between runs: application "Tunabel",
// then section and key. Every value is a string.
struct SettingKey {
    const char *section;
    const char *key;
};

namespace Keys {
inline constexpr SettingKey Mode{"Session", "Mode"};     // "0", "7", "77", "12" ("9" read, never written)
inline constexpr SettingKey Path{"Session", "Path"};     // folder shown at the last exit
inline constexpr SettingKey Volume{"Session", "Volume"}; // slider 0 (full) to 100
inline constexpr SettingKey Fond{"Aspect", "Fond"};      // list background, colour number
inline constexpr SettingKey Texte{"Aspect", "Texte"};    // list text, colour number
inline constexpr SettingKey Repetition{"Options", "Répétition"};
inline constexpr SettingKey Fade{"Options", "Fade"};
inline constexpr SettingKey Continue{"Options", "Continue"};
inline constexpr SettingKey Dessus{"Options", "Dessus"};
inline constexpr SettingKey Infos{"Temps", "Infos"};
inline constexpr SettingKey IntroDuree{"Intro", "Durée"}; // seconds, as typed
inline constexpr SettingKey EditeurPath{"Editeur", "Path"};
inline constexpr const char *Favoris = "Favoris"; // keys "0" to "9": folder paths
} // namespace Keys

inline constexpr const char *kOui = "Oui";
inline constexpr const char *kNon = "Non";

QString Setting(const SettingKey &key);
void Save(const SettingKey &key, const QString &value);

// A stored number is decimal text: an optional minus sign and digits, no
// blanks. Anything else is not a number.
bool ParseStoredNumber(const QString &text, qint64 &out);
// Colours are stored red in the low byte, then green, then blue.
QColor ColorFromStored(qint64 value);
qint64 StoredColor(const QColor &color);
