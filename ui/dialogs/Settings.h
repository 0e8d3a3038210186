#pragma once
// The device settings: the channels bound to the external buttons and to the automatic
// restart with their flags, the type of the common relay and the unit's network address.

#include <QDialog>
#include <array>
#include <cstdint>

#include "ui_Settings.h"

class TSettingsForm : public QDialog, public Ui::TSettingsForm {
  Q_OBJECT

 public:
  explicit TSettingsForm(QWidget* parent = nullptr);

  // Fills the dialog from the unit at that address; reports its own read failure.
  void Init(uint8_t address, uint8_t model);

  void OnChangeValues();
  void btnRefreshClick();
  void btnApplyClick();
  void btnOKClick();

  // The unit the dialog works on: address * 256 + model code, as the device tree packs
  // its nodes' data. Refresh and Apply use this, never the address field.
  uint32_t Tag = 0;

 private:
  // One byte of the settings words: the channel bound to an entry (bits 0-6) and its
  // flag (bit 7).
  struct Entry {
    QComboBox* Channel;
    QCheckBox* Flag;
    int Word;
    int Shift;  // 8 for the high byte, 0 for the low one
  };
  std::array<Entry, 6> Entries() const;

  uint8_t Address() const { return static_cast<uint8_t>(Tag >> 8); }
  uint8_t Model() const { return static_cast<uint8_t>(Tag & 0xFF); }

  // False when the input was refused before any request: the dialog stays for the user to
  // correct it.
  bool Apply();
  bool AddressField(uint8_t& address) const;
  bool BuildWords(std::array<uint16_t, 3>& words) const;
  void MarkMovedUnit() const;

  // The settings words as last read by this Init, for the entries left without a channel;
  // whether the relay type was read, for a relay list left blank.
  bool SettingsRead = false;
  std::array<uint16_t, 3> ReadWords{};
  bool ReleRead = false;
};

extern TSettingsForm* SettingsForm;
