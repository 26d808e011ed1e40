#include "hw/link_types.h"

namespace hw {

std::string link_type_name(unsigned type) {
    switch (type) {
    case 0:
        return "NET/ROM";
    case 1:
        return "Ethernet";
    case 2:
        return "Experimental Ethernet";
    case 3:
        return "AX.25";
    case 4:
        return "PROnet token ring";
    case 5:
        return "Chaosnet";
    case 6:
        return "IEEE 802.2";
    case 7:
        return "ARCnet";
    case 8:
        return "AppleTalk";
    case 15:
        return "Frame Relay DLCI";
    case 19:
        return "ATM";
    case 23:
        return "Metricom STRIP";
    case 24:
        return "IEEE 1394";
    case 27:
        return "EUI-64";
    case 32:
        return "InfiniBand";
    case 256:
        return "SLIP";
    case 257:
        return "CSLIP";
    case 258:
        return "SLIP6";
    case 259:
        return "CSLIP6";
    case 260:
        return "KISS";
    case 264:
        return "Adaptive SLIP";
    case 270:
        return "ROSE";
    case 271:
        return "X.25";
    case 272:
        return "X.25 (hardware)";
    case 280:
        return "CAN";
    case 290:
        return "MCTP";
    case 512:
        return "PPP";
    case 513:
        return "Cisco HDLC";
    case 516:
        return "LAPB";
    case 517:
        return "DDCMP";
    case 518:
        return "Raw HDLC";
    case 519:
        return "Raw IP";
    case 768:
        return "IPIP Tunnel";
    case 769:
        return "IP6IP6 Tunnel";
    case 770:
        return "Frame Relay Access Device";
    case 771:
        return "SKIP";
    case 772:
        return "Loopback";
    case 773:
        return "LocalTalk";
    case 774:
        return "FDDI";
    case 775:
        return "AP1000 BIF";
    case 776:
        return "SIT Tunnel";
    case 777:
        return "IP over DDP Tunnel";
    case 778:
        return "GRE Tunnel";
    case 779:
        return "PIM Register";
    case 780:
        return "HIPPI";
    case 781:
        return "Nexus Ash";
    case 782:
        return "Acorn Econet";
    case 783:
        return "IrDA";
    case 784:
        return "Fibre Channel point-to-point";
    case 785:
        return "Fibre Channel arbitrated loop";
    case 786:
        return "Fibre Channel public loop";
    case 787:
        return "Fibre Channel fabric";
    case 800:
        return "Token Ring";
    case 801:
        return "IEEE 802.11 (WLAN)";
    case 802:
        return "IEEE 802.11 Prism";
    case 803:
        return "IEEE 802.11 Radiotap";
    case 804:
        return "IEEE 802.15.4";
    case 805:
        return "IEEE 802.15.4 Monitor";
    case 820:
        return "PhoNet";
    case 821:
        return "PhoNet Pipe";
    case 822:
        return "CAIF";
    case 823:
        return "GRE over IPv6 Tunnel";
    case 824:
        return "Netlink";
    case 825:
        return "6LoWPAN";
    case 826:
        return "Vsock Monitor";
    case 0xFFFE:
        return "None (TUN)";
    case 0xFFFF:
        return "Void";
    default:
        return {};
    }
}

} // namespace hw
