#include "Printing/persist/DocumentFileU.h"

#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/PrintPreviewU.h"
#include "Printing/text/PreviewTextU.h"
#include "components/krStreaming.h"
#include "platform/Component.h"
#include "platform/Exceptions.h"

#include <QFile>
#include <QPointer>
#include <QSaveFile>

namespace {

// The document whose records are being read: new pages and items are
// created as its controls, owned by its owner.
TPrintPreview* gLoadingDocument = nullptr;

class TLoadingScope {
public:
  explicit TLoadingScope(TPrintPreview* ADocument) : FPrevious(gLoadingDocument) { gLoadingDocument = ADocument; }
  ~TLoadingScope() {
    gLoadingDocument = FPrevious;
    for (qsizetype i = FGlobals.size() - 1; i >= 0; --i)
      if (FGlobals[i]) UnRegisterGlobalComponent(FGlobals[i]);
  }
  TLoadingScope(const TLoadingScope&) = delete;
  TLoadingScope& operator=(const TLoadingScope&) = delete;

  // A caption belongs to its picture, so references to it are written as
  // picture, dot, caption, and its own references name the form from
  // outside: the form and the pictures are named for the time of the load
  // (those registered before stay registered).
  void AddGlobal(QObject* AComponent) {
    if (RegisterGlobalComponent(AComponent)) FGlobals.append(AComponent);
  }

private:
  TPrintPreview* FPrevious;
  QList<QPointer<QObject>> FGlobals;
};

QObject* LoadingOwner() { return gLoadingDocument ? gLoadingDocument->Owner() : nullptr; }

template <class T>
void RegisterItemClass() {
  RegisterStreamableClass(T::staticMetaObject, [] {
    auto* item = new T(LoadingOwner());
    if (gLoadingDocument) item->setParent(gLoadingDocument);
    return static_cast<QObject*>(item);
  });
}

// The component of that name among the owner's components, or among the
// components those own (a picture's caption). The second are many to look
// through: the load keeps them by name, adding each component it reads.
class TInnerComponents {
public:
  explicit TInnerComponents(QObject* AOwner) : FOwner(AOwner) {
    for (TComponent* owned : OwnedComponents(AOwner))
      for (TComponent* inner : owned->Components()) Add(inner->Self());
  }

  void Add(QObject* AComponent) {
    if (AComponent && !AComponent->objectName().isEmpty())
      FByName.insert(ComponentNameKey(AComponent->objectName()), AComponent);
  }

  QObject* Find(const QString& Name) const {
    if (Name.isEmpty()) return nullptr;
    if (TComponent* c = FindComponent(FOwner, Name)) return c->Self();
    const QString key = ComponentNameKey(Name);
    for (auto it = FByName.find(key); it != FByName.end() && it.key() == key; ++it)
      if (IsInner(it->data(), Name)) return it->data();
    return nullptr;
  }

private:
  // Still a component of one of the owner's components, of that name.
  bool IsInner(QObject* AComponent, const QString& Name) const {
    auto* c = dynamic_cast<TComponent*>(AComponent);
    if (!c || c->Name().compare(Name, Qt::CaseInsensitive) != 0) return false;
    auto* holder = dynamic_cast<TComponent*>(c->Owner());
    return holder && holder->Owner() == FOwner;
  }

  QObject* FOwner;
  QMultiHash<QString, QPointer<QObject>> FByName;
};

// Frees an item the records did not name. Its page's layout already is the
// one read: the item's space is not given back to it a second time.
void FreeHeldItem(TPreviewItem* Item) {
  for (TPreviewItem* i : {Item->AttachedPreviewItem(), Item})
    if (i && i->PagePreview()) i->PagePreview()->Items().Remove(i);
  delete Item;
}

// A caption belongs to the item it is attached to (references to it name
// that item); references that still name it by its present owner are
// settled first.
void JoinAttacher(TPreviewItem* Item) {
  TPreviewItem* attacher = Item->Attacher();
  if (!attacher || Item->Owner() == attacher) return;
  ResolvePendingReferences();
  Item->SetOwner(attacher);
}

class TStateGuard {
public:
  TStateGuard(IStreamableComponent& AComponent, TStreamState AState) : FComponent(AComponent) {
    FComponent.SetStreamState(AState);
  }
  ~TStateGuard() { FComponent.SetStreamState(ssIdle); }
  TStateGuard(const TStateGuard&) = delete;
  TStateGuard& operator=(const TStateGuard&) = delete;

private:
  IStreamableComponent& FComponent;
};

// What a record leaves out of a page, item or control it is read onto held
// its default when it was written; properties kept only while saving are
// always written in a document.
const TStoredAtWrite kSavedOnly = [](const QString& Condition) { return Condition == QLatin1String("IsSaving"); };

}  // namespace

void RegisterDocumentClasses() {
  RegisterStreamableClass(TPagePreview::staticMetaObject, [] {
    return static_cast<QObject*>(new TPagePreview(LoadingOwner(), gLoadingDocument));
  });
  RegisterItemClass<TPreviewItem>();
  RegisterItemClass<TPreviewImage>();
  RegisterItemClass<TPreviewText>();
}

bool IsTextDocumentName(const QString& FileName) {
  return FileName.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive);
}

void TDocumentFile::Reattach(TPrintPreview& Document, const QList<QPointer<QObject>>& Held) {
  // Held holds the items last first, then the pages last first.
  for (qsizetype i = Held.size() - 1; i >= 0; --i)
    if (auto* page = dynamic_cast<TPagePreview*>(Held[i].data()); page && !Document.FPages.Contains(page)) {
      page->SetPrintPreview(&Document);
      Document.FPages.Add(page);
    }
  for (qsizetype i = Held.size() - 1; i >= 0; --i)
    if (auto* item = dynamic_cast<TPreviewItem*>(Held[i].data()); item && !Document.FItems.Contains(item)) {
      item->SetPrintPreview(&Document);
      Document.FItems.Add(item);
    }
}

void TDocumentFile::SettleOwners(TPrintPreview& Document) {
  // Every item belongs to its picture when it is a caption, else to the
  // form: how its references are written is then how they are read back.
  for (int i = 0; i < Document.FItems.Count(); ++i) {
    TPreviewItem* item = Document.FItems.Item(i);
    if (!item) continue;
    QObject* owner = item->Attacher() ? static_cast<QObject*>(item->Attacher()) : Document.Owner();
    if (item->Owner() == owner) continue;
    if (TComponent* other = FindComponent(owner, item->Name()); other && other != item)
      item->SetName(Document.UniqueName(QStringLiteral("Text")));
    item->SetOwner(owner);
  }
}

void TDocumentFile::Save(TPrintPreview& Document, QIODevice& AStream, bool AsText, const QString& SaveParams) {
  TStateGuard state(Document, ssSaving);
  for (TPagePreview* page : Document.FPages) page->SaveToStream(AStream, AsText, SaveParams);
  for (QObject* item : Document.FItems) {
    if (IStreamableComponent* s = StreamableOf(item))
      s->SaveToStream(AStream, AsText, SaveParams);
    else
      WriteComponentRecord(AStream, *item, AsText, SaveParams);
  }
  WriteComponentRecord(AStream, Document, AsText, SaveParams);
}

void TDocumentFile::Load(TPrintPreview& Document, QIODevice& AStream, bool Fresh) {
  RegisterDocumentClasses();
  QList<QPointer<QObject>> holding;
  {
    TPrintPreview::TUpdateGuard update(Document);
    QObject* owner = Document.Owner();
    if (!owner) throw Exception(QStringLiteral("Must have an owner to load stuff)"));
    TLoadingScope scope(&Document);
    if (Fresh) {
      Document.ClearDocument();
    } else {
      for (int i = Document.FItems.Count() - 1; i >= 0; --i) {
        QObject* item = Document.FItems[i];
        if (auto* previewItem = dynamic_cast<TPreviewItem*>(item)) previewItem->SetPrintPreview(nullptr);
        holding.append(item);
        Document.FItems.Delete(i);
      }
      for (int i = Document.FPages.Count() - 1; i >= 0; --i) {
        TPagePreview* page = Document.FPages[i];
        page->SetPrintPreview(nullptr);
        holding.append(page);
        Document.FPages.Delete(i);
      }
    }
    // References from captions name the form from outside it.
    if (!owner->objectName().isEmpty() && FindGlobalComponent(owner->objectName()) != owner) scope.AddGlobal(owner);
    for (TComponent* c : OwnedComponents(owner))
      if (dynamic_cast<TPreviewItem*>(c)) scope.AddGlobal(c->Self());

    Document.FSelectedItem = nullptr;
    Document.FSelectedPage = nullptr;
    ClearPendingReferences();
    TInnerComponents inner(owner);
    {
      TStateGuard state(Document, ssLoading);
      Document.FDefaultPageLayout.clear();
      try {
        while (!AStream.atEnd()) {
          QString name, className;
          ReadComponentDeclaration(AStream, name, className);
          QObject* existing = inner.Find(name);
          if (existing) {
            const QString existingClass = QString::fromLatin1(existing->metaObject()->className());
            if (existingClass.compare(className, Qt::CaseInsensitive) != 0)
              throw Exception(QStringLiteral("%1 should be of type %2 but is %3").arg(name, className, existingClass));
          }
          QObject* read = ReadComponentRecord(AStream, existing, &kSavedOnly);
          inner.Add(read);
          // A re-read page or item is idle again once its record is in, so
          // that moving it afterwards is recorded as a change.
          if (IStreamableComponent* s = StreamableOf(read); s && read != &Document) s->SetStreamState(ssIdle);
          if (existing) {
            if (auto* page = dynamic_cast<TPagePreview*>(existing)) {
              if (!Document.FPages.Contains(page)) Document.FPages.Add(page);
              page->SetPrintPreview(&Document);
            } else if (auto* item = dynamic_cast<TPreviewItem*>(existing)) {
              item->setVisible(true);
              item->SetPrintPreview(&Document);
              if (!Document.FItems.Contains(item)) Document.FItems.Add(item);
              // An item left over from a failed load may come back on a page
              // that does not list it yet.
              if (TPagePreview* page = item->PagePreview(); page && !page->Items().Contains(item))
                page->AddPreviewItem(item, false);
              JoinAttacher(item);
            }
            continue;
          }
          if (auto* page = dynamic_cast<TPagePreview*>(read)) {
            page->SetPrintPreview(&Document);
            if (page->parentWidget() != &Document) page->setParent(&Document);
            page->lower();
            Document.AttachPage(page);
            if (Document.OnNewPage) Document.OnNewPage(page);
          } else if (auto* item = dynamic_cast<TPreviewItem*>(read)) {
            item->SetPrintPreview(&Document);
            if (item->parentWidget() != &Document) item->setParent(&Document);
            JoinAttacher(item);
            if (TPagePreview* page = item->PagePreview()) page->AddPreviewItem(item, false);
            Document.RegisterItem(item);
            scope.AddGlobal(item);
            ResolvePendingReferences();
          }
        }
        CheckPendingReferences();
      } catch (...) {
        ClearPendingReferences();
        Reattach(Document, holding);
        SettleOwners(Document);
        throw;
      }
      SettleOwners(Document);
    }

    // What the records did not name goes: captions first, then the other
    // items, then the pages.
    for (qsizetype i = holding.size() - 1; i >= 0; --i) {
      auto* item = dynamic_cast<TPreviewItem*>(holding[i].data());
      if (item && item->GetOptions().testFlag(poAttached) && !item->PrintPreview()) {
        holding.removeAt(i);
        FreeHeldItem(item);
      }
    }
    for (qsizetype i = holding.size() - 1; i >= 0; --i) {
      QObject* o = holding[i].data();
      if (!o) continue;
      auto* item = dynamic_cast<TPreviewItem*>(o);
      auto* page = dynamic_cast<TPagePreview*>(o);
      if (item && !item->PrintPreview())
        FreeHeldItem(item);
      else if (page && !page->PrintPreviewOrNull())
        delete page;
    }
    holding.clear();
  }

  // The pages shown stay within the document.
  const int shown = Document.FDisplayPagesHorizontal * Document.FDisplayPagesVertical;
  if (Document.FDisplayPageStart + shown > Document.PageCount())
    Document.FDisplayPageStart = std::max(Document.PageCount() - shown, 0);
  Document.PositionPages();
  // Items read onto another page than the one they were shown on are shown
  // on theirs (pages that did not move are not laid out again above).
  for (TPagePreview* page : Document.FPages) page->UpdateItemsDisplay();
  Document.PagesChanged();
}

void TDocumentFile::SaveFile(TPrintPreview& Document, const QString& FileName, bool ForceText) {
  const bool asText = ForceText || IsTextDocumentName(FileName);
  QSaveFile file(FileName);
  if (!file.open(QIODevice::WriteOnly))
    throw EStreamError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, file.errorString()));
  Save(Document, file, asText, kSaveImages);
  if (!file.commit())
    throw EStreamError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, file.errorString()));
  Document.MarkSaved();
}

void TDocumentFile::LoadFile(TPrintPreview& Document, const QString& FileName) {
  QFile file(FileName);
  if (!file.open(QIODevice::ReadOnly))
    throw EStreamError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, file.errorString()));
  Document.FDisplayPagesVertical = 1;
  Document.FDisplayPagesHorizontal = 1;
  Document.FDisplayPageStart = 0;
  Load(Document, file, true);
  file.close();
  if (Document.OnFileLoaded) Document.OnFileLoaded(&Document, FileName);
  Document.Changed(QStringLiteral("Loaded"));
  Document.ResetModified();
}
