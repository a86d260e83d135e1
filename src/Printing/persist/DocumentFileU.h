#pragma once

// The document file: the records of every page (in page order), of every
// item (in the order of the document's item list) and of the document
// control itself, one after another in the record container, with nothing
// before or after them. Files carry the pictures' bytes ("SAVE_IMAGES");
// undo snapshots are the same records without them.
//
// Loading either builds the document afresh or re-uses the pages and items
// that are still there, matched by name, so that their pictures and caches
// survive an undo.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QIODevice;
class TPrintPreview;

// The parameter word that makes pictures write their bytes.
inline const QString kSaveImages = QStringLiteral("SAVE_IMAGES");

// Makes the document's classes readable from records (done by every load).
void RegisterDocumentClasses();

// Whether a file of that name is written as text records (".txt" in any case).
bool IsTextDocumentName(const QString& FileName);

class TDocumentFile {
public:
  static void Save(TPrintPreview& Document, QIODevice& AStream, bool AsText, const QString& SaveParams);
  static void Load(TPrintPreview& Document, QIODevice& AStream, bool Fresh);
  // Writes into a temporary file beside FileName and puts it in the place of
  // FileName only when everything was written and flushed; on failure the
  // old file stays as it was and the temporary one is removed.
  static void SaveFile(TPrintPreview& Document, const QString& FileName, bool ForceText);
  static void LoadFile(TPrintPreview& Document, const QString& FileName);

private:
  // After a failed load the pages and items the records had not reached yet
  // go back into the document, so that nothing of it is lost and nothing in
  // it refers to a component outside it.
  static void Reattach(TPrintPreview& Document, const QList<QPointer<QObject>>& Held);
  // Gives every item of the document the owner its references name.
  static void SettleOwners(TPrintPreview& Document);
};
