// Labels and check boxes of the design are sized to their text in the design's font, "MS Sans
// Serif" 8 pt. Where that font is missing (any Linux desktop) a metric-alike stands in, and
// its text can run a pixel or more wider than the designed box; Qt would then cut the text
// off. Such a control keeps its designed place and height and grows to the right until its
// text fits, as an auto-sized label does. It never shrinks below the designed width.
#pragma once

class QLabel;
class QString;
class QWidget;

// Remembers the control's current width as its designed width, then grows it to its text.
void GrowToText(QWidget* AControl);
// Gives the label a new caption and sizes it to that caption: wider for a longer one, back
// to the designed width (never below) for a shorter one.
void SetCaption(QLabel* ALabel, const QString& ACaption);
