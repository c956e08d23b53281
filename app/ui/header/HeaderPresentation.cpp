#include "app/ui/header/HeaderPresentation.hpp"

#include "app/ui/text/Localized.hpp"
#include "platform/format/ByteCountFormatter.hpp"

namespace marrowdale {

using Kind = Cleaner::State::Kind;

HeaderPresentation presentHeader(Kind kind, bool anythingSelected, std::int64_t selectedSize) {
    HeaderPresentation presentation;
    switch (kind) {
    case Kind::stopped:
        presentation = {"Home.Header.ScanYourMac-Button-Label", ScanButtonAction::scan, true, {}};
        break;
    case Kind::scanning:
        presentation = {"Home.Header.Stop-Button-Label", ScanButtonAction::stop, true, {}};
        break;
    case Kind::scanned:
        presentation = {"Home.Header.Clean-Button-Label", ScanButtonAction::clean, anythingSelected, {}};
        break;
    case Kind::cleaning:
        presentation = {"Home.Header.Clean-Button-Label", ScanButtonAction::none, false, {}};
        break;
    }
    if (kind == Kind::stopped || kind == Kind::scanning) {
        presentation.status = localized("Home.Header.ScanStopped.Info-Label");
    } else {
        presentation.status = localized("Home.Header.SelectedSize:%@",
                                        velmor::ByteCountFormatter::forInterface().string(selectedSize));
    }
    return presentation;
}

HeaderPresentation presentHeader(const Cleaner& cleaner) {
    // The selected rows exist only while results are on show; during a clean the size reads zero.
    return presentHeader(cleaner.state().kind, cleaner.hasSelection(), cleaner.selectedSize());
}

void perform(ScanButtonAction action, Cleaner& cleaner) {
    velmor::MainActor::assertIsolated();
    switch (action) {
    case ScanButtonAction::scan:
        cleaner.scan();
        break;
    case ScanButtonAction::stop:
        if (const auto& run = cleaner.currentRun()) {
            run.cancel();
        }
        break;
    case ScanButtonAction::clean:
        cleaner.clean();
        break;
    case ScanButtonAction::none:
        break;
    }
}

} // namespace marrowdale
