// SPDX-License-Identifier: GPL-3.0-or-later
// libyaml, loaded when a notebook of month files is first read: no other
// command needs it.
#include "OnDemand.h"

#include <yaml.h>

// 0: libyaml's own failure value.
KIV_ON_DEMAND(KIV_LIBYAML_SONAME, 0, int, yaml_parser_initialize, (yaml_parser_t * parser), (parser))
KIV_ON_DEMAND(KIV_LIBYAML_SONAME, , void, yaml_parser_delete, (yaml_parser_t * parser), (parser))
KIV_ON_DEMAND(KIV_LIBYAML_SONAME, , void, yaml_parser_set_input_string,
    (yaml_parser_t * parser, const unsigned char* input, size_t size), (parser, input, size))
KIV_ON_DEMAND(KIV_LIBYAML_SONAME, 0, int, yaml_parser_parse, (yaml_parser_t * parser, yaml_event_t* event),
    (parser, event))
KIV_ON_DEMAND(KIV_LIBYAML_SONAME, , void, yaml_event_delete, (yaml_event_t * event), (event))
