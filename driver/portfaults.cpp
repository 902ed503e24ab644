// See portfaults.h.
#include "portfaults.h"

const char* PortFaultAdvice(PortFaultCode code)
{
    switch (code) {
    case PORT_FAULT_PERMISSION:
        return "Ajoutez l'utilisateur au groupe lp (sudo adduser $USER lp), puis reconnectez-vous.";
    case PORT_FAULT_BUSY:
        return "Un travail d'impression tient le port : attendez sa fin, ou libérez le port du pilote "
               "d'imprimante (sudo rmmod lp). Le port reprendra tout seul.";
    case PORT_FAULT_NO_DEVICE:
        return "Vérifiez le nom (ls -l /dev/parport*) et chargez ppdev (sudo modprobe ppdev). "
               "Le port reprendra tout seul dès qu'il sera là.";
    case PORT_FAULT_NOT_PARPORT:
        return "Il faut un vrai port parallèle (carte mère, carte PCI ou PCIe), pas un câble USB.";
    case PORT_FAULT_DEVICE_LOST:
        return "Vérifiez la carte et le câble : le port reprendra tout seul dès qu'il répondra.";
    case PORT_FAULT_CONFIG:
        return "Corrigez TRAVEK_PORT (ou travek-port.conf) puis relancez le programme.";
    case PORT_FAULT_HELPER_START:
    case PORT_FAULT_HELPER_REFUSED:
        return "Reconstruisez avec scripts/build.sh, puis relancez le programme.";
    default:
        return "";
    }
}

bool PortFaultEndsWhenServed(PortFaultCode code)
{
    switch (code) {
    case PORT_FAULT_NO_DEVICE:
    case PORT_FAULT_PERMISSION:
    case PORT_FAULT_BUSY:
    case PORT_FAULT_NOT_PARPORT:
    case PORT_FAULT_DEVICE_LOST:
    case PORT_FAULT_HELPER_START:
    case PORT_FAULT_HELPER_LOST:
    case PORT_FAULT_HELPER_DUPLICATE:
        return true;
    default:
        return false;
    }
}
