#include "platform/Component.h"

#include "platform/Exceptions.h"

#include <QHash>

namespace {

class TComponentRegistry;

// Every owner's list, found by its owner: an owner may have many children
// (the document holds its pages and items), so the list is not looked up
// among them.
QHash<const QObject*, TComponentRegistry*>& Registries() {
  static QHash<const QObject*, TComponentRegistry*> registries;
  return registries;
}

// Kept as a hidden child of an owner: the components it owns, and an index
// of them by name. When the owner goes, so does this list, freeing every
// component still on it.
class TComponentRegistry : public QObject {
public:
  explicit TComponentRegistry(QObject* AOwner) : QObject(AOwner), FOwner(AOwner) { Registries().insert(AOwner, this); }
  ~TComponentRegistry() override {
    // Newest first; a component leaves the list as it goes, and may take
    // others with it.
    while (!Components.isEmpty()) delete Components.last();
    Registries().remove(FOwner);
  }

  void Add(TComponent* C) {
    Components.append(C);
    Index(C, C->Name());
  }
  void Remove(TComponent* C, const QString& IndexedName) {
    Components.removeAll(C);
    Unindex(C, IndexedName);
  }
  void Renamed(TComponent* C, const QString& OldName) {
    Unindex(C, OldName);
    Index(C, C->Name());
  }

  TComponent* Find(const QString& Name) const {
    if (FAmbiguous) {
      for (TComponent* c : Components)
        if (c->Name().compare(Name, Qt::CaseInsensitive) == 0) return c;
      return nullptr;
    }
    return FByName.value(ComponentNameKey(Name));
  }

  QList<TComponent*> Components;

private:
  void Index(TComponent* C, const QString& Name) {
    if (Name.isEmpty() || FAmbiguous) return;
    auto it = FByName.find(ComponentNameKey(Name));
    if (it == FByName.end())
      FByName.insert(ComponentNameKey(Name), C);
    else if (it.value() != C)
      // Two components of one name (set around the name check): the first
      // in the list is the one found, as it always was.
      FAmbiguous = true;
  }
  void Unindex(TComponent* C, const QString& Name) {
    if (Name.isEmpty() || FAmbiguous) return;
    auto it = FByName.find(ComponentNameKey(Name));
    if (it != FByName.end() && it.value() == C) FByName.erase(it);
  }

  const QObject* FOwner;
  QHash<QString, TComponent*> FByName;
  bool FAmbiguous = false;
};

TComponentRegistry* RegistryOf(const QObject* Owner, bool Create) {
  if (!Owner) return nullptr;
  if (TComponentRegistry* reg = Registries().value(Owner)) return reg;
  if (!Create) return nullptr;
  return new TComponentRegistry(const_cast<QObject*>(Owner));
}

}  // namespace

QString ComponentNameKey(const QString& Name) {
  // Names are mostly plain letters and digits: those are lowered directly.
  QString key(Name.size(), Qt::Uninitialized);
  QChar* out = key.data();
  for (qsizetype i = 0; i < Name.size(); ++i) {
    const char16_t c = Name.at(i).unicode();
    if (c >= 0x80) return Name.toCaseFolded();
    out[i] = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
  }
  return key;
}

TComponent::TComponent(QObject* ASelf, QObject* AOwner) : FSelf(ASelf) {
  FIndexedName = FSelf->objectName();
  // Names may be set on the object directly, not only through SetName.
  FNameConnection = QObject::connect(FSelf, &QObject::objectNameChanged, [this] { NameChanged(); });
  SetOwner(AOwner);
}

TComponent::~TComponent() {
  QObject::disconnect(FNameConnection);
  BeforeDestruction();
}

void TComponent::NameChanged() {
  const QString old = FIndexedName;
  FIndexedName = FSelf->objectName();
  if (auto* reg = static_cast<TComponentRegistry*>(FOwnerRegistry.data())) reg->Renamed(this, old);
}

void TComponent::SetOwner(QObject* AOwner) {
  if (FOwner == AOwner) return;
  if (auto* old = static_cast<TComponentRegistry*>(FOwnerRegistry.data())) old->Remove(this, FIndexedName);
  FOwner = AOwner;
  TComponentRegistry* reg = RegistryOf(AOwner, true);
  FOwnerRegistry = reg;
  FIndexedName = FSelf->objectName();
  if (reg) reg->Add(this);
}

void TComponent::SetName(const QString& Value) {
  if (Value.compare(Name(), Qt::CaseInsensitive) == 0) {
    FSelf->setObjectName(Value);
    return;
  }
  if (!Value.isEmpty()) {
    TComponent* other = FindComponent(FOwner, Value);
    if (other && other != this)
      throw Exception(QStringLiteral("A component named %1 already exists.").arg(Value));
  }
  FSelf->setObjectName(Value);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (!FFreeNotifies.contains(AComponent)) FFreeNotifies.append(AComponent);
  if (!AComponent->FFreeNotifies.contains(this)) AComponent->FFreeNotifies.append(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  FFreeNotifies.removeAll(AComponent);
  AComponent->FFreeNotifies.removeAll(this);
}

QList<TComponent*> TComponent::Components() const { return OwnedComponents(FSelf); }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  Q_UNUSED(AComponent);
  Q_UNUSED(Operation);
}

void TComponent::BeforeDestruction() {
  if (FDestroying) return;
  FDestroying = true;
  // Tell the others, newest listener first; each leaves the list before it
  // hears, so that it may drop further links of its own.
  while (!FFreeNotifies.isEmpty()) {
    TComponent* other = FFreeNotifies.takeLast();
    other->FFreeNotifies.removeAll(this);
    other->Notification(this, opRemove);
  }
  // Free what this component owns, newest first.
  if (TComponentRegistry* reg = RegistryOf(FSelf, false)) {
    while (!reg->Components.isEmpty()) delete reg->Components.last();
  }
  // The registry is reached directly: while the owner frees its children
  // it can no longer be found among them.
  if (auto* reg = static_cast<TComponentRegistry*>(FOwnerRegistry.data())) reg->Remove(this, FIndexedName);
  FOwnerRegistry = nullptr;
  FOwner = nullptr;
}

TComponent* FindComponent(const QObject* Owner, const QString& Name) {
  if (!Owner || Name.isEmpty()) return nullptr;
  if (TComponentRegistry* reg = RegistryOf(Owner, false))
    if (TComponent* c = reg->Find(Name)) return c;
  for (QObject* child : Owner->children())
    if (child->objectName().compare(Name, Qt::CaseInsensitive) == 0)
      if (auto* c = dynamic_cast<TComponent*>(child)) return c;
  return nullptr;
}

bool OwnerHoldsName(const QObject* Owner, const QString& Name) {
  if (!Owner || Name.isEmpty()) return false;
  if (FindComponent(Owner, Name)) return true;
  for (QObject* child : Owner->children())
    if (child->objectName().compare(Name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QList<TComponent*> OwnedComponents(const QObject* Owner) {
  if (TComponentRegistry* reg = RegistryOf(Owner, false)) return reg->Components;
  return {};
}
