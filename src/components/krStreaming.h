#pragma once

// The streaming state of a component: ssSaving while it is written to a
// document stream, ssLoading while it is read from one.

#include <QObject>

namespace krStreamingTypes {
Q_NAMESPACE
enum TStreamState { ssIdle, ssLoading, ssSaving };
Q_ENUM_NS(TStreamState)
}  // namespace krStreamingTypes
using krStreamingTypes::ssIdle;
using krStreamingTypes::ssLoading;
using krStreamingTypes::ssSaving;
using krStreamingTypes::TStreamState;
