#include "platform/Exceptions.h"

#include <charconv>
#include <cmath>
#include <limits>

Exception::Exception(const QString& Msg) : FMessage(Msg), FUtf8(Msg.toUtf8()) {}

Exception::~Exception() = default;

EAbort::EAbort() : Exception(QStringLiteral("Operation aborted")) {}

EInvalidOp::EInvalidOp() : Exception(QStringLiteral("Invalid floating point operation")) {}

double StrToFloat(const QString& S) {
  const QByteArray text = S.trimmed().toLatin1();
  const char* first = text.constData();
  const char* last = first + text.size();
  // from_chars does not take a leading '+', the usual number syntax does.
  if (first != last && *first == '+') ++first;
  double value = 0;
  const auto res = std::from_chars(first, last, value, std::chars_format::general);
  if (text.isEmpty() || res.ec != std::errc() || res.ptr != last || !std::isfinite(value))
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(S));
  return value;
}

int Trunc(double X) {
  if (!std::isfinite(X)) throw EInvalidOp();
  const double t = std::trunc(X);
  if (t < static_cast<double>(std::numeric_limits<int>::min()) ||
      t > static_cast<double>(std::numeric_limits<int>::max()))
    throw EInvalidOp();
  return static_cast<int>(t);
}
