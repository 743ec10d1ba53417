// Text between the core and Qt: the core holds UTF-8 in std::string, Qt holds
// QString. These two are the only conversions the Qt layer uses.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace qb::qt {

inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace qb::qt
