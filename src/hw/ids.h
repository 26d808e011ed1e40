// Names for the numeric PCI and USB ids devices report, from the "pci.ids" and "usb.ids"
// files the distribution installs. Each file is opened when the first name from it is asked
// for, so a machine without USB devices never reads usb.ids. The real files list their lines
// in order, and a name is found by halving them, a few pages each. A line the halving misses
// is mostly one the file does not have, which a quick pass over the file (or the vendor's
// lines) makes sure of; only one out of order has the file read through once, and the tables
// of that read answer from then on (a device, its vendor's lines). Lookups never fail (an unknown
// id gives an empty name, and callers show the number instead). Names come back as valid UTF-8,
// whatever bytes the file holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace util {
class FileContents;
}

namespace hw {

struct PciIdTables;
struct UsbIdTables;

class Ids {
public:
    // The process's tables, each file found and read on its first use and kept until exit.
    static Ids& instance();

    // Searches for the files and reads them now, apart from instance(): for tests, which
    // change QUARVEL_SYSROOT or SNAP between cases, and for the load benchmark. Over a
    // capture made by --capture that lacks a file the captured machine had, this computer's
    // is read instead, so that devices still have names.
    static Ids load();
    // Searches for the files and opens them now, reading nothing yet, as instance() does:
    // names are then found by halving the files, as in the program.
    static Ids on_demand();
    // Tables made from the given file texts, with no file behind them (empty paths).
    static Ids from_text(std::string pci_text, std::string usb_text);

    Ids(Ids&&) noexcept;
    Ids& operator=(Ids&&) noexcept;
    ~Ids();

    std::string pci_vendor(uint32_t vendor) const;
    std::string pci_device(uint32_t vendor, uint32_t device) const;
    // The subsystem's own name; when the file does not list it, the subsystem vendor's name.
    std::string pci_subsystem(uint32_t sub_vendor, uint32_t sub_device, uint32_t vendor,
                              uint32_t device) const;
    // The name of a 24-bit class code (class, subclass, programming interface) as lspci
    // gives it: the subclass's name, else the class's. Interface names ("Normal decode",
    // "Generic", "16550") only make sense next to that, so they have their own lookup.
    std::string pci_class(uint32_t class_code) const;
    // The programming interface's name of a 24-bit class code, or empty.
    std::string pci_interface(uint32_t class_code) const;
    std::string usb_vendor(uint32_t vendor) const;
    std::string usb_device(uint32_t vendor, uint32_t product) const;
    // The USB-IF name of a device or interface class code.
    std::string usb_class(uint32_t cls) const;

    // The machine's path of the file that is (or would be) loaded, empty when none was
    // found. Asking for the path does not read the file.
    const std::string& pci_ids_path() const;
    const std::string& usb_ids_path() const;
    // True when the file is this computer's, not the captured machine's (see load()).
    bool pci_ids_from_this_computer() const;
    bool usb_ids_from_this_computer() const;

private:
    struct Impl;
    Ids();
    static Ids from_files(util::FileContents pci, util::FileContents usb);
    // Each file searched for and opened on the first call.
    void open_pci() const;
    void open_usb() const;
    // The tables of one file, read through on the first call.
    const PciIdTables& pci_tables() const;
    const UsbIdTables& usb_tables() const;

    std::unique_ptr<Impl> m_impl;
    // Filled on first use in instance()'s tables, hence mutable.
    mutable std::string m_pci_path;
    mutable std::string m_usb_path;
    mutable bool m_pci_here = false;
    mutable bool m_usb_here = false;
};

// The first readable "name" in the directories the distributions use (a Snap's own copy
// first), as the machine's path; empty when there is none.
std::string find_ids_file(const std::string& name);

} // namespace hw
