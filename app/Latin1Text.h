#pragma once

#include <QString>
#include <string>

// The box speaks single bytes; widgets hold QStrings. Latin-1 maps every byte to one character
// and back, so no text from the line or the operator is lost or reshaped on the way.
inline QString ToQString(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToLatin1(const QString& text) {
  return text.toLatin1().toStdString();
}
