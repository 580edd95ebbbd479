# python3-vurnel: the `vurnel` Python module (the "python" component of python/CMakeLists.txt)
# in Debian's path for the system's Python 3. Included by VurnelPackaging.cmake before CPack.
include(CPackComponent)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-vurnel COMPONENT python
        EXCLUDE_FROM_ALL)
# The compiled half is built for this Python's ABI (_vurnel.cpython-3XY-…).
set(VURNEL_PY "${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}")
math(EXPR VURNEL_PY_NEXT_MINOR "${Python3_VERSION_MINOR} + 1")
set(VURNEL_PY_NEXT "${Python3_VERSION_MAJOR}.${VURNEL_PY_NEXT_MINOR}")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vurnel)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${VURNEL_PY}~), python3 (<< ${VURNEL_PY_NEXT}), python3-numpy")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
"Vurnel's IIR filter library for Python, in 80-bit extended precision
The vurnel module designs Butterworth, Chebyshev, inverse Chebyshev,
elliptic and Bessel filters, lowpass, highpass, bandpass and bandstop,
orders 1 to 8, and Butterworth shelves, from the analog prototype in the
x87 extended format. Designs come out as numpy longdouble arrays (zpk, ba,
second-order sections) with their exact response and a stability verdict;
lfilter and sosfilt run them over numpy arrays in extended precision,
keeping their state between calls. vurnel.signal offers scipy.signal's
butter, cheby1, cheby2, ellip and bessel with scipy's arguments and gain
conventions.")
# Byte-compiled on install and cleaned on removal, as Debian's own Python packages are.
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/python3-vurnel/postinst
    ${PROJECT_SOURCE_DIR}/packaging/python3-vurnel/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
cpack_add_component_group(python)
cpack_add_component(python GROUP python)
