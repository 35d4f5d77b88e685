#pragma once
// The status icon of each dictation state, drawn here so that the tray needs
// no icon theme: a microphone outline (idle), a filled red microphone
// (recording), a waveform (transcribing) and sparkles (AI processing).

#include "halvex_zovuruv/core/DictationState.h"

#include <QColor>
#include <QIcon>
#include <QString>

namespace halvex {

struct StatusIcon {
    QIcon icon;
    /// What the icon says to screen readers and in its tooltip.
    QString description;
    /// False only for recording, whose icon keeps its own colour; the others
    /// are drawn in the panel's text colour.
    bool isTemplate = true;
};

/// `templateColor` is the colour of every state but recording.
StatusIcon statusIcon(DictationState state, const QColor& templateColor);

/// The red of the recording icon.
QColor recordingRed();

} // namespace halvex
