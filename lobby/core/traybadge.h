#pragma once

#include <QIcon>

// The tray picture with the number of waiting private messages over its upper right
// corner (the lower right one is where the blinking pictures show their mail): a filled
// disc with the count ("9+" beyond nine), painted at every density the picture has so
// it stays crisp on high-density screens. For a count of 0 or less the picture comes
// back unchanged.
namespace traybadge {

QIcon badged(const QIcon &picture, int count);

// The text the badge shows.
QString badgeText(int count);

} // namespace traybadge
