# Checks, at configure time, that no subsystem library links what it must not.
# Allowed directions:
#   ui -> app -> formats, filters -> engine (engine links no project library);
#   app -> shellext's menu model (pv_shellmenu), which links only core;
#   formats, filters, app, shellext -> core; nothing below ui links Qt.
set(PV_FORBIDDEN_pv_core pv_engine pv_filters pv_formats pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_pv_engine pv_core pv_filters pv_formats pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_pv_filters pv_formats pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_pv_formats pv_filters pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_extpv pv_engine pv_filters pv_formats pv_app pv_ui Qt6::)
set(PV_FORBIDDEN_extpv_nemo ${PV_FORBIDDEN_extpv})
set(PV_FORBIDDEN_extpv_caja ${PV_FORBIDDEN_extpv})
set(PV_FORBIDDEN_extpv_thunar ${PV_FORBIDDEN_extpv})
set(PV_FORBIDDEN_pv_shellmenu pv_engine pv_filters pv_formats pv_app pv_ui Qt6::)

function(pv_check_layering)
  foreach(target pv_core pv_engine pv_filters pv_formats pv_app pv_shellmenu extpv extpv_nemo extpv_caja extpv_thunar)
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(links ${target} LINK_LIBRARIES)
    get_target_property(ilinks ${target} INTERFACE_LINK_LIBRARIES)
    foreach(dep IN LISTS links ilinks)
      foreach(bad IN LISTS PV_FORBIDDEN_${target})
        string(FIND "${dep}" "${bad}" at)
        if(at EQUAL 0)
          message(FATAL_ERROR "Layering: ${target} must not link ${dep}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
