#include "platform/Component.h"

#include "platform/Exceptions.h"

namespace {

// Kept as a hidden child of an owner: the components it owns. When the
// owner goes, so does this list, freeing every component still on it.
class TComponentRegistry : public QObject {
public:
  explicit TComponentRegistry(QObject* AOwner) : QObject(AOwner) {}
  ~TComponentRegistry() override {
    // Newest first; a component leaves the list as it goes, and may take
    // others with it.
    while (!Components.isEmpty()) delete Components.last();
  }
  QList<TComponent*> Components;
};

TComponentRegistry* RegistryOf(const QObject* Owner, bool Create) {
  if (!Owner) return nullptr;
  for (QObject* child : Owner->children())
    if (auto* reg = dynamic_cast<TComponentRegistry*>(child)) return reg;
  if (!Create) return nullptr;
  return new TComponentRegistry(const_cast<QObject*>(Owner));
}

}  // namespace

TComponent::TComponent(QObject* ASelf, QObject* AOwner) : FSelf(ASelf) { SetOwner(AOwner); }

TComponent::~TComponent() { BeforeDestruction(); }

void TComponent::SetOwner(QObject* AOwner) {
  if (FOwner == AOwner) return;
  if (auto* old = static_cast<TComponentRegistry*>(FOwnerRegistry.data())) old->Components.removeAll(this);
  FOwner = AOwner;
  TComponentRegistry* reg = RegistryOf(AOwner, true);
  FOwnerRegistry = reg;
  if (reg) reg->Components.append(this);
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
  if (auto* reg = static_cast<TComponentRegistry*>(FOwnerRegistry.data())) reg->Components.removeAll(this);
  FOwnerRegistry = nullptr;
  FOwner = nullptr;
}

TComponent* FindComponent(const QObject* Owner, const QString& Name) {
  if (!Owner || Name.isEmpty()) return nullptr;
  if (TComponentRegistry* reg = RegistryOf(Owner, false))
    for (TComponent* c : reg->Components)
      if (c->Name().compare(Name, Qt::CaseInsensitive) == 0) return c;
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
