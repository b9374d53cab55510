#pragma once
// The stream monitor's findings as one self-contained XHTML page: the verdict, the figures against their
// bounds, and charts over time drawn as inline SVG. Nothing is fetched and no script runs, so the page reads
// the same in any browser, offline, years later. Any thread.

#include "tsmonitor.h"
#include "tstimeline.h"

#include <QDateTime>
#include <QString>

namespace tsreport
{
// `listen` names what was measured; `started` is the first arrival's wall-clock time.
QString html(const tsmonitor::report &r, const tstimeline &history, const QString &listen, const QDateTime &started);
// The page for a port where nothing arrived.
QString emptyHtml(const QString &listen, const QDateTime &since, double waitedSeconds);
} // namespace tsreport
