// A load's label in the tables and verdicts.
#include "report/load_label.h"

std::string load_label(const RtLoad* load) {
    return load->name.size() <= LOAD_LABEL_WIDTH ? load->name : load->key;
}
