#!/usr/bin/python3
"""Makes Flowloom's sample fields and photographs from public data that Debian packages ship.

Run it from anywhere with Debian's Python (the first python3 on some PATHs lacks Debian's
modules):

    sudo apt-get install libncarg-data python-matplotlib-data python3-skimage \\
                         python3-numpy python3-netcdf4
    /usr/bin/python3 samples/make_samples.py [OUTPUT_DIR]

It writes into the folder of this script unless given another. Nothing is downloaded:
every input is a file installed by one of the packages above (see README.md here for
each source and its licence). The same input always gives the same bytes.

Every field comes in three files holding the same numbers:
- NAME.vec: Flowloom's binary field file: width and height as little-endian 32-bit
  integers, then per sample vx (along the columns, to the right) and vy (down the rows)
  as little-endian floats, rows from the top;
- NAME.npy: the same samples as a float32 array of shape (height, width, 2), rows from
  the top, vx then vy; masked samples (land) are NaN, in the .vec file too;
- NAME.nc: NetCDF-4, the geophysical variables as a NetCDF user expects them (see each
  field below).
"""

import os
import shutil
import struct
import sys

import netCDF4
import numpy as np

NCARG_DATA = "/usr/share/ncarg/data/cdf"
MPL_DATA = "/usr/share/matplotlib/mpl-data/sample_data"
SKIMAGE_DATA = "/usr/lib/python3/dist-packages/skimage/data"

PACKAGES = "libncarg-data python-matplotlib-data python3-skimage python3-numpy python3-netcdf4"


def need(path):
    if not os.path.exists(path):
        sys.exit(f"make_samples.py: {path} is missing; install it with\n"
                 f"    sudo apt-get install {PACKAGES}")
    return path


def write_vec(path, vx, vy):
    """Binary .vec: masked samples stay NaN, which Flowloom reads back as masked."""
    height, width = vx.shape
    pairs = np.stack([vx, vy], axis=-1).astype("<f4")
    with open(path, "wb") as out:
        out.write(struct.pack("<ii", width, height))
        out.write(pairs.tobytes())


def write_npy(path, vx, vy):
    np.save(path, np.stack([vx, vy], axis=-1).astype("<f4"))


def new_netcdf(path, title, source, licence):
    nc = netCDF4.Dataset(path, "w", format="NETCDF4")
    nc.title = title
    nc.source = source
    nc.license = licence
    nc.history = "made by Flowloom's samples/make_samples.py"
    return nc


def periodic_bilinear_upsample(field, factor):
    """Upsamples a global lat-lon grid: periodic in longitude, clamped in latitude."""
    rows, cols = field.shape
    y = (np.arange(rows * factor) + 0.5) / factor - 0.5
    x = (np.arange(cols * factor) + 0.5) / factor - 0.5
    y0 = np.clip(np.floor(y).astype(int), 0, rows - 1)
    y1 = np.clip(y0 + 1, 0, rows - 1)
    fy = np.clip(y - y0, 0.0, 1.0)[:, None]
    x0 = np.floor(x).astype(int) % cols
    x1 = (x0 + 1) % cols
    fx = (x - np.floor(x))[None, :]
    top = field[y0][:, x0] * (1 - fx) + field[y0][:, x1] * fx
    bottom = field[y1][:, x0] * (1 - fx) + field[y1][:, x1] * fx
    return (top * (1 - fy) + bottom * fy).astype(np.float32)


def wind(out_dir):
    """January wind at 300 hPa (NCAR's EZPLOT demo data set uv300), upsampled 2x."""
    src = netCDF4.Dataset(need(f"{NCARG_DATA}/uv300.nc"))
    src.set_auto_mask(False)
    u = src.variables["U"][0].astype(np.float64)  # time 0 is January
    v = src.variables["V"][0].astype(np.float64)
    lat = src.variables["lat"][:].astype(np.float64)  # south to north
    lon = src.variables["lon"][:].astype(np.float64)
    assert lat[0] < lat[-1]
    factor = 2
    u2 = periodic_bilinear_upsample(u, factor)
    v2 = periodic_bilinear_upsample(v, factor)
    lat2 = periodic_bilinear_upsample(np.repeat(lat[:, None], 2, axis=1), factor)[:, 0]
    lon2 = (lon[0] + (np.arange(lon.size * factor) + 0.5) / factor * (lon[1] - lon[0]) -
            0.5 * (lon[1] - lon[0])).astype(np.float32)

    # Displayed with north at the top: rows reversed, and northward is up, against the rows.
    vx = u2[::-1]
    vy = -v2[::-1]
    name = "wind_300hpa_january"
    write_vec(f"{out_dir}/{name}.vec", vx, vy)
    write_npy(f"{out_dir}/{name}.npy", vx, vy)

    nc = new_netcdf(f"{out_dir}/{name}.nc", "Wind at 300 hPa, January climatology, upsampled 2x",
                    "uv300.nc of NCAR's EZPLOT demo data (Climate Analysis Section, NCAR), Debian libncarg-data",
                    "BSD-4-clause (University Corporation for Atmospheric Research)")
    nc.createDimension("lat", lat2.size)
    nc.createDimension("lon", lon2.size)
    vlat = nc.createVariable("lat", "f4", ("lat",))
    vlat.standard_name = "latitude"
    vlat.units = "degrees_north"
    vlat[:] = lat2
    vlon = nc.createVariable("lon", "f4", ("lon",))
    vlon.standard_name = "longitude"
    vlon.units = "degrees_east"
    vlon[:] = lon2
    for var, data, standard in (("u", u2, "eastward_wind"), ("v", v2, "northward_wind")):
        out = nc.createVariable(var, "f4", ("lat", "lon"), fill_value=np.float32(-999.0))
        out.standard_name = standard
        out.units = "m s-1"
        out[:] = data
    nc.close()
    return name, vx.shape


def ocean(out_dir):
    """Annual-mean surface currents of the POP ocean model, northern hemisphere."""
    src = netCDF4.Dataset(need(f"{NCARG_DATA}/pop.nc"))
    src.set_auto_mask(False)
    u = src.variables["urot"][:].astype(np.float32)  # (nlat, nlon), rows south to north
    v = src.variables["vrot"][:].astype(np.float32)
    fill = np.float32(src.variables["urot"].getncattr("_FillValue"))
    land = (u == fill) | (v == fill)
    u[land] = np.nan
    v[land] = np.nan
    # The grid's first column lies at 321 E; rolling it puts the North Atlantic and the
    # Gulf Stream in the middle. Rows from the equator north keep the field small.
    lat2d = src.variables["lat2d"][:]
    first_row = int(np.argmax(lat2d[:, 0] >= 0.0))
    u = np.roll(u[first_row:], -141, axis=1)
    v = np.roll(v[first_row:], -141, axis=1)

    vx = u[::-1]
    vy = -v[::-1]
    name = "ocean_currents_north"
    write_vec(f"{out_dir}/{name}.vec", vx, vy)
    write_npy(f"{out_dir}/{name}.npy", vx, vy)

    nc = new_netcdf(f"{out_dir}/{name}.nc", "Ocean surface currents, annual mean, northern hemisphere",
                    "pop.nc (POP ocean model, displaced-pole grid) of NCL's example data, Debian libncarg-data",
                    "BSD-4-clause (University Corporation for Atmospheric Research)")
    nc.comment = ("Model grid indices, not a regular latitude-longitude grid. Rows run from north "
                  "(first) to the equator, so the file holds no latitude coordinate to flip by.")
    nc.createDimension("y", vx.shape[0])
    nc.createDimension("x", vx.shape[1])
    for var, data, standard in (("u", u[::-1], "eastward_sea_water_velocity"),
                                ("v", v[::-1], "northward_sea_water_velocity")):
        out = nc.createVariable(var, "f4", ("y", "x"), fill_value=fill, zlib=True)
        out.standard_name = standard
        out.units = "cm s-1"
        out[:] = np.where(np.isnan(data), fill, data)
    nc.close()
    return name, vx.shape


def elevation(out_dir):
    """The gradient of a digital elevation model (Jacksboro fault, Tennessee), halved."""
    dem = np.load(need(f"{MPL_DATA}/jacksboro_fault_dem.npz"))
    z = dem["elevation"].astype(np.float64)[::2, ::2]  # rows from the top, as matplotlib shows it
    # Uphill, in metres per grid cell: central differences inside, one-sided at the borders.
    dz_drow, dz_dcol = np.gradient(z)
    vx = dz_dcol.astype(np.float32)
    vy = dz_drow.astype(np.float32)
    name = "jacksboro_dem_gradient"
    write_vec(f"{out_dir}/{name}.vec", vx, vy)
    write_npy(f"{out_dir}/{name}.npy", vx, vy)

    nc = new_netcdf(f"{out_dir}/jacksboro_dem.nc", "Elevation, Jacksboro fault region, every second sample",
                    "jacksboro_fault_dem.npz of matplotlib's sample data, Debian python-matplotlib-data",
                    "Matplotlib licence (PSF-based, BSD-compatible)")
    nc.comment = "Rows from the north (first) southwards; the field is this elevation's gradient."
    nc.createDimension("y", z.shape[0])
    nc.createDimension("x", z.shape[1])
    out = nc.createVariable("elevation", "f4", ("y", "x"), zlib=True)
    out.standard_name = "surface_altitude"
    out.units = "m"
    out[:] = z.astype(np.float32)
    nc.close()
    return name, vx.shape


def photographs(out_dir):
    """Copied as the packages ship them: a JPEG and two PNGs."""
    copied = []
    for source in (f"{MPL_DATA}/grace_hopper.jpg", f"{SKIMAGE_DATA}/chelsea.png", f"{SKIMAGE_DATA}/coffee.png"):
        target = f"{out_dir}/{os.path.basename(source)}"
        shutil.copyfile(need(source), target)
        copied.append(os.path.basename(source))
    return copied


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out_dir, exist_ok=True)
    for make in (wind, ocean, elevation):
        name, (height, width) = make(out_dir)
        print(f"{name}: {width} x {height}")
    print("photographs:", ", ".join(photographs(out_dir)))


if __name__ == "__main__":
    main()
