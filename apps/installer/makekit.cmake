# Assembles the installer's PC folder (OUT) from the source tree (SRC) and the built programs
# (BIN): the device programs of this machine's architecture ARCH named PROGRAM-ARCH, the install
# scripts, the data files, the readme. Files are copied only when they differ, so a rebuild is cheap.
file(MAKE_DIRECTORY ${OUT})
function(kit_copy from to)
  file(COPY_FILE ${from} ${OUT}/${to} ONLY_IF_DIFFERENT)
endfunction()
foreach(program namefind enroll strider)
  kit_copy(${BIN}/${program} ${program}-${ARCH})
endforeach()
file(GLOB installer_data ${SRC}/data/installer/*)
foreach(f ${installer_data})
  get_filename_component(name ${f} NAME)
  kit_copy(${f} ${name})
endforeach()
file(GLOB recordings ${SRC}/data/*.wav)
foreach(f ${recordings}
    ${SRC}/data/abc.voc ${SRC}/data/abc.rul ${SRC}/data/base.voc ${SRC}/data/enrol.voc ${SRC}/data/enrol.rul
    ${SRC}/data/enrol.txt ${SRC}/data/ltsmodel.bin ${SRC}/data/demo.tsv ${SRC}/data/demo.voc
    ${SRC}/data/command.tsv ${SRC}/data/command.voc ${SRC}/data/delta.usr ${SRC}/data/newuser.usr
    ${SRC}/data/fulldict.voc)
  get_filename_component(name ${f} NAME)
  kit_copy(${f} ${name})
endforeach()
