#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Base class of every error the program raises. The message is the fixed
// English text shown to the user in a message box.
class Exception : public std::exception {
public:
  explicit Exception(const QString& Msg);
  ~Exception() override;

  const QString& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.constData(); }

private:
  QString FMessage;
  QByteArray FUtf8;
};

// The silent abort: unwinds a run (a user's Stop, a cancelled print) without
// any message.
class EAbort : public Exception {
public:
  EAbort();
};

// A text that cannot be read as a number.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// A floating point value that does not fit the integer it is truncated to.
class EInvalidOp : public Exception {
public:
  EInvalidOp();
};

// Failures of the printer layer.
class EPrinter : public Exception {
public:
  using Exception::Exception;
};

// Reads a decimal number with "." as separator whatever the user's locale;
// leading and trailing blanks are ignored. Fails with EConvertError
// "'<text>' is not a valid floating point value".
double StrToFloat(const QString& S);

// Truncates towards zero; a value outside the range of int (or not a number)
// fails with EInvalidOp "Invalid floating point operation".
int Trunc(double X);
