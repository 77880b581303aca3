#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/PortScan.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A machine's /sys as far as serial adapters go: the tty class links into the device tree,
// where a USB device carries its vendor, product and serial number.
class Machine {
 public:
  std::string Root() const { return Dir.Path(); }

  // An adapter in the given socket ("1-1"); an empty serial leaves the attribute out.
  void Plug(const std::string& tty, const std::string& socket, const std::string& serial,
            const std::string& interface = "00", const std::string& port = "0") {
    const fs::path usb = fs::path(Dir.Path()) / "sys/devices/pci0000:00/0000:00:02.0/usb1" / socket;
    const fs::path node = usb / (socket + ":1." + interface) / tty;
    fs::create_directories(node / "tty" / tty);
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    if (!serial.empty()) Write(usb / "serial", serial);
    Write(usb / (socket + ":1." + interface) / "bInterfaceNumber", interface);
    Write(node / "port_number", port);
    const fs::path cls = fs::path(Dir.Path()) / "sys/class/tty" / tty;
    fs::create_directories(cls);
    fs::create_directory_symlink(node, cls / "device");
  }

  void Pull(const std::string& tty, const std::string& socket) {
    fs::remove_all(fs::path(Dir.Path()) / "sys/class/tty" / tty);
    fs::remove_all(fs::path(Dir.Path()) / "sys/devices/pci0000:00/0000:00:02.0/usb1" / socket);
  }

  // A port with a UART on the board: no USB device above it.
  void Board(const std::string& tty) {
    const fs::path node = fs::path(Dir.Path()) / "sys/devices/pnp0/00:03";
    fs::create_directories(node);
    const fs::path cls = fs::path(Dir.Path()) / "sys/class/tty" / tty;
    fs::create_directories(cls);
    fs::create_directory_symlink(node, cls / "device");
  }

 private:
  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }
  TempDir Dir;
};

}  // namespace

TEST(UsbAdapter, TellsAdaptersApartByTheirSerialNumberOrTheirSocket) {
  Machine m;
  m.Plug("ttyUSB0", "1-1", "A601XYZQ");
  m.Plug("ttyUSB1", "1-2", "");
  m.Plug("ttyUSB2", "1-3", "", "00", "1");
  m.Board("ttyS0");
  EXPECT_EQ(UsbAdapterOf("ttyUSB0", m.Root()), "0403:6001 serial A601XYZQ interface 00 port 0");
  EXPECT_EQ(UsbAdapterOf("ttyUSB1", m.Root()), "0403:6001 in socket 1-2 interface 00 port 0");
  EXPECT_EQ(UsbAdapterOf("ttyUSB2", m.Root()), "0403:6001 in socket 1-3 interface 00 port 1");
  EXPECT_EQ(UsbAdapterOf("ttyS0", m.Root()), "");
  EXPECT_EQ(UsbAdapterOf("ttyUSB7", m.Root()), "");
}

TEST(UsbAdapter, APulledAdapterIsFoundUnderItsNewNode) {
  Machine m;
  m.Plug("ttyUSB0", "1-1", "A601XYZQ");
  m.Plug("ttyUSB1", "1-2", "");
  const std::string withSerial = UsbAdapterOf("ttyUSB0", m.Root());
  const std::string withoutSerial = UsbAdapterOf("ttyUSB1", m.Root());
  EXPECT_EQ(FindUsbAdapter(withSerial, m.Root()), "/dev/ttyUSB0");

  // Back while a program still holds the old nodes: new numbers; the one with a serial number
  // in another socket, the one without in its own.
  m.Pull("ttyUSB0", "1-1");
  m.Pull("ttyUSB1", "1-2");
  EXPECT_EQ(FindUsbAdapter(withSerial, m.Root()), "");
  m.Plug("ttyUSB2", "1-4", "A601XYZQ");
  m.Plug("ttyUSB3", "1-2", "");
  EXPECT_EQ(FindUsbAdapter(withSerial, m.Root()), "/dev/ttyUSB2");
  EXPECT_EQ(FindUsbAdapter(withoutSerial, m.Root()), "/dev/ttyUSB3");

  // Without a serial number, another socket may hold another adapter of the same make.
  m.Pull("ttyUSB3", "1-2");
  m.Plug("ttyUSB3", "1-5", "");
  EXPECT_EQ(FindUsbAdapter(withoutSerial, m.Root()), "");
  // Two nodes claiming one serial number: which is ours cannot be told.
  m.Plug("ttyUSB4", "1-6", "A601XYZQ");
  EXPECT_EQ(FindUsbAdapter(withSerial, m.Root()), "");
  EXPECT_EQ(FindUsbAdapter("", m.Root()), "");
}

// Two cheap adapters that share a serial number: pulling station A's must never lead its
// reopen to station B's box. One that was the only one of its kind may be followed.
TEST(UsbAdapter, OnlyAnAdapterUniqueOnTheMachineIsFollowed) {
  Machine m;
  m.Plug("ttyUSB0", "1-1", "0001");
  m.Plug("ttyUSB1", "1-2", "0001");
  m.Plug("ttyUSB2", "1-3", "A601XYZQ");
  EXPECT_EQ(FollowableUsbAdapter("ttyUSB0", m.Root()), "");
  EXPECT_EQ(FollowableUsbAdapter("ttyUSB1", m.Root()), "");
  EXPECT_EQ(FollowableUsbAdapter("ttyS0", m.Root()), "");
  const std::string unique = FollowableUsbAdapter("ttyUSB2", m.Root());
  EXPECT_EQ(unique, UsbAdapterOf("ttyUSB2", m.Root()));

  m.Pull("ttyUSB0", "1-1");  // station A's adapter: station B's is now the only "0001"
  EXPECT_EQ(FindUsbAdapter(FollowableUsbAdapter("ttyUSB0", m.Root()), m.Root()), "");
  m.Pull("ttyUSB2", "1-3");
  m.Plug("ttyUSB3", "1-4", "A601XYZQ");
  EXPECT_EQ(FindUsbAdapter(unique, m.Root()), "/dev/ttyUSB3");
}

// The scan lists what /dev holds, in number order, whatever names a driver makes up: a number
// too long for any integer type is a name like another, not an exception.
TEST(PortScan, ListsPortsInNumberOrderWhateverTheirNames) {
  TempDir dir;
  const fs::path dev = fs::path(dir.Path()) / "dev";
  fs::create_directories(dev / "serial/by-id");
  for (const char* name : {"ttyUSB10", "ttyUSB9", "ttyUSB99999999999999999999999", "ttyUSB007",
                           "ttyUSBx", "ttyACM0", "ttyS0", "ttyS1"})
    std::ofstream(dev / name);
  fs::create_symlink("../../ttyUSB9",
                     dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A601-if00-port0");
  // ttyS0 has a UART behind it, ttyS1 is a placeholder the kernel made.
  const fs::path tty = fs::path(dir.Path()) / "sys/class/tty";
  fs::create_directories(tty / "ttyS0/device");
  std::ofstream(tty / "ttyS0/type") << "4\n";
  fs::create_directories(tty / "ttyS1/device");
  std::ofstream(tty / "ttyS1/type") << "0\n";

  std::vector<FoundPort> found;
  ASSERT_NO_THROW(found = ScanSerialPorts(dir.Path()));
  const std::vector<FoundPort> expected = {
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601-if00-port0", "FTDI FT232R USB UART A601"},
      {"/dev/ttyUSBx", ""},
      {"/dev/ttyUSB007", ""},
      {"/dev/ttyUSB9", ""},
      {"/dev/ttyUSB10", ""},
      {"/dev/ttyUSB99999999999999999999999", ""},
      {"/dev/ttyACM0", ""},
      {"/dev/ttyS0", ""},
  };
  EXPECT_EQ(found, expected);
}
