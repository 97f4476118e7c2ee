#include "dialogs/HelpText.h"

namespace tamix {

const std::string& HelpText() {
    static const std::string text =
        "During measurement the following operations are available:\r\n"
        "\r\n"
        "- To autoscale the signal display click on the zoom icon \r\n"
        "- To reset scaling click on the zoom icon using the right button of the mouse\r\n"
        "- To increase the signal amplitude click on the volume icon \r\n"
        "- To decrease the signal amplitude click on the volume icon using the right button of "
        "the mouse\r\n"
        "- To move the signal up click on the double arrow icon on the left hand side\r\n"
        "- To move the signal down click on the double arrow icon using the right button of the "
        "mouse\r\n"
        "- To add a commented marker press space\r\n"
        "\r\n"
        "Data maybe saved in binary and text formats. \r\n"
        "Binary file has a WinDaq compatible format (https://www.dataq.com/). \r\n"
        "The text file contains columns for the time instant and sampled channels. \r\n"
        "If you choose text format, a file named <your filename>_info.txt will also be generated "
        "\r\n"
        "containing the channel names and marker information.\r\n";
    return text;
}

}  // namespace tamix
