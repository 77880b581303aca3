#include "window/WindowEffects.h"

#include <type_traits>

WindowEffect EffectOf(const EngineEvent& event) {
  WindowEffect effect;
  std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, ev::PortOpened>) {
          effect.PortOpen = true;
          effect.StatusChanged = true;
        } else if constexpr (std::is_same_v<E, ev::PortClosed>) {
          if (e.WasOpen) {
            effect.PortOpen = false;
            effect.StatusChanged = true;
          }
          effect.CommandControls = false;
        } else if constexpr (std::is_same_v<E, ev::AwaitingLoader>) {
          effect.CommandControls = false;
        } else if constexpr (std::is_same_v<E, ev::ReplyWait>) {
          // No typing over a command whose answer is still due.
          effect.CommandControls = !e.Armed;
        } else if constexpr (std::is_same_v<E, ev::LoaderAnswered>) {
          effect.CommandControls = true;
          effect.StatusChanged = true;
        } else if constexpr (std::is_same_v<E, ev::CommandSettled>) {
          if (e.Command->OutcomeIsRecordStatus)
            effect.DlCfgStatus = e.Ok() ? e.Command->OkText : e.Command->FailText;
        } else if constexpr (std::is_same_v<E, ev::UploadStarted>) {
          effect.UploadCaption = UploadCaptionBusy;
        } else if constexpr (std::is_same_v<E, ev::UploadEnded>) {
          // The button says what it does next: there is nothing left to stop.
          effect.UploadCaption = UploadCaptionIdle;
          effect.StatusChanged = true;
        } else if constexpr (std::is_same_v<E, ev::Refused>) {
          effect.ClearCommandEntry = e.What == ev::Refusal::NotConnected;
        } else if constexpr (std::is_same_v<E, ev::ReplyTimedOut> ||
                             std::is_same_v<E, ev::StatusWord> ||
                             std::is_same_v<E, ev::LoaderVersion> ||
                             std::is_same_v<E, ev::FlashReadEnded>) {
          effect.StatusChanged = true;
        }
      },
      event);
  return effect;
}
