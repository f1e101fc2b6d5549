#include "ui/logic/DialogPhases.h"

#include "resources/resource.h"

namespace {

struct PhaseRow {
    DialogPhase phase;
    int when;  // 0: always, 1: only with the product installed, 2: only without
    ControlChange change;
};

const int kAlways = 0;
const int kWithProduct = 1;
const int kWithoutProduct = 2;

const PhaseRow kPhaseRows[] = {
    // Ready: the start screen with the description and the offers.
    {PhaseReady, kAlways, {IDC_STATUS_TEXT, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_STATUS_FRAME, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_HEADING, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_RESULTS_LIST, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_LIST_FRAME, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_CANCEL_BUTTON, HideControl, KeepEnabling}},
    {PhaseReady, kAlways, {IDC_OK_BUTTON, HideControl, DisableControl}},
    {PhaseReady, kWithProduct, {IDC_DLINK, HideControl, DisableControl}},
    {PhaseReady, kWithProduct, {IDC_DOWNLOAD, KeepVisibility, DisableControl}},
    {PhaseReady, kWithoutProduct, {IDC_PRODUCT_NOTICE, HideControl, KeepEnabling}},

    // Scanning: the heading, status line and results replace the offers.
    {PhaseScanning, kAlways, {IDC_SCAN, KeepVisibility, DisableControl}},
    {PhaseScanning, kAlways, {IDC_ULINK, HideControl, DisableControl}},
    {PhaseScanning, kAlways, {IDC_DLINK, HideControl, DisableControl}},
    {PhaseScanning, kAlways, {IDC_CANCEL_BUTTON, ShowControl, EnableControl}},
    {PhaseScanning, kAlways, {IDC_OK_BUTTON, KeepVisibility, EnableControl}},
    {PhaseScanning, kAlways, {IDC_DESCRIPTION, HideControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_PRODUCT_NOTICE, HideControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_MAKER_NOTICE, HideControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_HEADING, ShowControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_RESULTS_LIST, ShowControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_STATUS_TEXT, ShowControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_STATUS_FRAME, ShowControl, KeepEnabling}},
    {PhaseScanning, kAlways, {IDC_LIST_FRAME, ShowControl, KeepEnabling}},

    // A confirmed cancel: OK takes CANCEL's place while the walk unwinds.
    {PhaseCancelConfirmed, kAlways, {IDC_CANCEL_BUTTON, HideControl, KeepEnabling}},
    {PhaseCancelConfirmed, kAlways, {IDC_OK_BUTTON, ShowControl, KeepEnabling}},

    // Finished: OK closes the program; SCAN stays disabled.
    {PhaseFinished, kAlways, {IDC_CANCEL_BUTTON, HideControl, KeepEnabling}},
    {PhaseFinished, kAlways, {IDC_OK_BUTTON, ShowControl, KeepEnabling}},
    {PhaseFinished, kAlways, {IDC_HEADING, HideControl, KeepEnabling}},
};

}  // namespace

std::size_t ChangesForPhase(DialogPhase phase, bool productInstalled, ControlChange* changes, std::size_t capacity)
{
    std::size_t count = 0;
    for (const PhaseRow& row : kPhaseRows) {
        if (row.phase != phase) continue;
        if (row.when == kWithProduct && !productInstalled) continue;
        if (row.when == kWithoutProduct && productInstalled) continue;
        if (count == capacity) break;
        changes[count++] = row.change;
    }
    return count;
}
