#pragma once

#include <QString>

namespace quorvit {

/// The Mac type and creator codes of a file, kept in the extended attributes
/// "user.quorvit.type" and "user.quorvit.creator" (four bytes each).
struct TypeCreator
{
    QString type;    ///< empty when the file has none
    QString creator; ///< empty when the file has none
};

/// Returns true if the file exists and its attributes could be read; codes are empty when absent.
bool readTypeAndCreator(const QString& path, TypeCreator* codes);

/// Returns the creator code, or an empty string when the file has none or cannot be read.
QString creatorCode(const QString& path);
QString typeCode(const QString& path);

/// Sets both codes; returns false when the file system keeps no extended attributes.
bool setTypeAndCreator(const QString& path, const QString& type, const QString& creator);

} // namespace quorvit
