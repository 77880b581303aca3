#pragma once

#include <QString>
#include <optional>
#include <string>

// The box speaks single bytes; widgets hold QStrings. Latin-1 maps every byte to one character
// and back, so no text from the line or the operator is lost or reshaped on the way.
inline QString ToQString(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToLatin1(const QString& text) {
  return text.toLatin1().toStdString();
}

// A file name as the engine and platform/ take it: UTF-8, which is what Qt gives the system
// here and what the Windows file calls of platform/ expect (the ANSI code page would lose
// every character outside it).
inline std::string FileNameOf(const QString& path) {
  return path.toUtf8().toStdString();
}

// Text the engine made of its own words and, maybe, a name or a reason of the system's: UTF-8
// where it reads as UTF-8, the box's Latin-1 otherwise.
inline QString EngineText(const std::string& text) {
  const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  const QString utf8 = QString::fromUtf8(bytes);
  return utf8.toUtf8() == bytes ? utf8 : QString::fromLatin1(bytes);
}

// The text's bytes when every character is one byte (Latin-1); nullopt when one is not, so
// that nothing the operator typed goes out as a stand-in character.
inline std::optional<std::string> ExactLatin1(const QString& text) {
  for (const QChar c : text)
    if (c.unicode() > 0xFF) return std::nullopt;
  return ToLatin1(text);
}

// The text of an edit that holds a number: a character beyond Latin-1 stands as one no number
// reading takes, so the edit is refused instead of read as something else.
inline std::string TypedNumber(const QString& text) {
  return ExactLatin1(text).value_or("?");
}
