#pragma once

// Components: named objects owned by a hosting form that free what they own
// and tell the components that asked for it when they go away.
//
// A component is a QObject (usually a QWidget) that also derives from
// TComponent. Its owner is any QObject (the hosting form); the owner frees
// the components it owns when it is destroyed. The owner is independent of
// the Qt parent: the document control is the parent widget of its pages and
// items, the form owns them.
//
// Removal notices do not rely on QObject::destroyed, which comes after the
// subclass is gone: a component class whose listeners need its state while
// it goes calls BeforeDestruction() first in its destructor.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

enum TOperation { opInsert, opRemove };

class TComponent {
public:
  TComponent(QObject* ASelf, QObject* AOwner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  QObject* Self() const { return FSelf; }
  QObject* Owner() const { return FOwner; }
  // Hands the component to another owner (nullptr: nobody frees it).
  void SetOwner(QObject* AOwner);

  QString Name() const { return FSelf->objectName(); }
  // Fails with "A component named %s already exists." when the owner holds
  // another component of that name.
  void SetName(const QString& Value);

  // The two components tell each other when one of them is destroyed:
  // Notification(other, opRemove) is called on the survivor.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // True from the start of the destruction on.
  bool IsDestroying() const { return FDestroying; }

  // The components this one owns, in the order they were given to it.
  QList<TComponent*> Components() const;

protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Sends the removal notices (to the listeners, newest first), frees the
  // components this one owns and leaves the owner. Runs once; the base
  // destructor calls it when a subclass did not.
  void BeforeDestruction();

private:
  void NameChanged();

  QObject* FSelf;
  QPointer<QObject> FOwner;
  QString FIndexedName;  // the name the owner's index knows it by
  QMetaObject::Connection FNameConnection;
  QPointer<QObject> FOwnerRegistry;  // the owner's list of its components
  QList<TComponent*> FFreeNotifies;
  bool FDestroying = false;
};

// The form of a name that compares as names do (without regard to case),
// for keeping components by name.
QString ComponentNameKey(const QString& Name);

// The component of that name owned by Owner, or else a direct child of
// Owner of that name that is a component; nullptr when none. Names compare
// without regard to case.
TComponent* FindComponent(const QObject* Owner, const QString& Name);
// Whether Owner holds anything of that name: an owned component or any
// direct child object.
bool OwnerHoldsName(const QObject* Owner, const QString& Name);
// The components Owner owns, in the order they were given to it.
QList<TComponent*> OwnedComponents(const QObject* Owner);
