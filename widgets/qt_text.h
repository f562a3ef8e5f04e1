#pragma once

// Texts between the engine (bytes, UTF-8 where they are text) and Qt.
// Shared widgets.

#include <QString>
#include <string>
#include <string_view>

namespace qx::ui {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStdString(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace qx::ui
