#include "app/session.h"

#include "app/preview.h"
#include "app/startup.h"

namespace pv::app {

Session::Session(Settings s, Prompter& p, std::unique_ptr<engine::CLead> lead)
    : settings(std::move(s)),
      primaryOwned_(lead ? std::move(lead) : std::make_unique<engine::CLead>()),
      secondaryOwned_(std::make_unique<engine::CLead>()),
      primary(*primaryOwned_),
      secondary(*secondaryOwned_),
      running(runningOwned_),
      interrupted(interruptedOwned_),
      progress(progressOwned_),
      prompter(p) {
  format = createStartFormat(settings);
  wireFilters();
}

Session::Session(Session& owner, Snapshot, bool ownControls)
    : settings(owner.settings),
      texts(owner.texts),
      primaryOwned_(ownControls ? std::make_unique<engine::CLead>() : nullptr),
      secondaryOwned_(ownControls ? std::make_unique<engine::CLead>() : nullptr),
      primary(ownControls ? *primaryOwned_ : owner.primary),
      secondary(ownControls ? *secondaryOwned_ : owner.secondary),
      running(owner.running),
      interrupted(owner.interrupted),
      progress(owner.progress),
      prompter(owner.prompter),
      observer(owner.observer),
      deferred(owner.deferred),
      currentEntry(-1),
      clipboard_(owner.clipboard_) {
  // The format with the options the owner has now (its shell options too).
  format = copyFormat(*owner.format);
  wireFilters();
  filterContext.editor = owner.filterContext.editor;
  for (std::size_t i = 0; i < owner.chain.size(); ++i) {
    const filters::Filter& f = owner.chain.at(i);
    chain.createByIndex(f.type);
    for (std::size_t v = 0; v < f.valueCount(); ++v) chain.at(i).setValue(v, f.value(v));
  }
  list = owner.list;
  if (ownControls) primary.SetClipboardTarget(clipboard_);
}

void Session::wireFilters() {
  filterContext.lead = &primary;
  filterContext.recordedSize = [this](int& width, int& height) {
    if (currentEntry < 0 || static_cast<std::size_t>(currentEntry) >= list.size()) return false;
    const ImageEntry& e = list[static_cast<std::size_t>(currentEntry)];
    width = static_cast<int>(e.width);
    height = static_cast<int>(e.height);
    return true;
  };
  filterContext.inform = [this](const std::string& text) { prompter.information(settings.caption, text); };
}

void Session::setClipboard(Clipboard* clipboard) {
  clipboard_ = clipboard;
  primary.SetClipboardTarget(clipboard);
}

}  // namespace pv::app
